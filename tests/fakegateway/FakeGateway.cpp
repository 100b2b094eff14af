#include "FakeGateway.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace fakegw {

namespace {

std::string decode_entities(std::string text) {
    // "&amp;" last, so that an escaped entity is not decoded twice.
    static const char* const table[][2] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    for (const auto& [entity, c] : table)
        for (std::size_t at = 0; (at = text.find(entity, at)) != std::string::npos; ++at)
            text.replace(at, std::char_traits<char>::length(entity), c);
    return text;
}

// Value of a header (name in lower case) of a request head, or empty.
std::string header_value(const std::string& head, const std::string& name) {
    std::string lower = head;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t at = lower.find("\r\n" + name);
    if (at == std::string::npos || (at = head.find(':', at)) == std::string::npos)
        return std::string();
    at = head.find_first_not_of(' ', at + 1);
    return at == std::string::npos ? std::string() : head.substr(at, head.find("\r\n", at) - at);
}

int bind_loopback(int type, uint16_t& port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 16) != 0))
        throw std::runtime_error("fake gateway: cannot open a loopback socket");
    port = ntohs(address.sin_port);
    return fd;
}

const char kEnvelopeHead[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
const char kEnvelopeTail[] = "</s:Body></s:Envelope>\r\n";

std::string xml_escape(const std::string& text) {
    static const std::pair<char, const char*> entities[] = {
        {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"}};
    std::string out;
    for (char c : text) {
        const auto* e = std::find_if(std::begin(entities), std::end(entities),
                                     [c](const auto& entity) { return entity.first == c; });
        out += e == std::end(entities) ? std::string(1, c) : std::string(e->second);
    }
    return out;
}

// "<name>text</name>" with the text escaped.
std::string element(const std::string& name, const std::string& text) {
    return "<" + name + ">" + xml_escape(text) + "</" + name + ">";
}

} // namespace

Reply http_status(int code, const std::string& reason, const std::string& body) {
    Reply reply;
    reply.bytes = "HTTP/1.1 " + std::to_string(code) + " " + reason +
                  "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nConnection: close\r\n"
                  "Content-Length: " +
                  std::to_string(body.size()) + "\r\nServer: FakeGateway/1.0 UPnP/1.0\r\n\r\n" +
                  body;
    return reply;
}

Reply http_ok(const std::string& body) {
    return http_status(200, "OK", body);
}

Reply soap_ok(const std::string& action, const std::string& arguments) {
    return http_ok(kEnvelopeHead +
                   ("<u:" + action + "Response xmlns:u=\"" +
                    "urn:schemas-upnp-org:service:WANIPConnection:1\">") +
                   arguments + "</u:" + action + "Response>" + kEnvelopeTail);
}

Reply soap_fault(int code, const std::string& description) {
    return http_status(500, "Internal Server Error",
                       kEnvelopeHead +
                           std::string("<s:Fault><faultcode>s:Client</faultcode><faultstring>"
                                       "UPnPError</faultstring><detail><UPnPError xmlns=\"urn:"
                                       "schemas-upnp-org:control-1-0\">") +
                           element("errorCode", std::to_string(code)) +
                           element("errorDescription", description) +
                           "</UPnPError></detail></s:Fault>" + kEnvelopeTail);
}

std::string entry_arguments(const Entry& e) {
    return "<NewRemoteHost></NewRemoteHost>" + element("NewExternalPort", e.external_port) +
           element("NewProtocol", e.protocol) + element("NewInternalPort", e.internal_port) +
           element("NewInternalClient", e.internal_client) + "<NewEnabled>1</NewEnabled>" +
           element("NewPortMappingDescription", e.description) +
           "<NewLeaseDuration>0</NewLeaseDuration>";
}

Reply split(Reply reply, int pieces, int gap_ms) {
    reply.cuts.clear();
    const std::size_t step = std::max<std::size_t>(
        1, reply.bytes.size() / static_cast<std::size_t>(std::max(1, pieces)));
    for (std::size_t at = step; at < reply.bytes.size(); at += step)
        reply.cuts.push_back(at);
    reply.gap_ms = gap_ms;
    return reply;
}

Reply split_inside(Reply reply, const std::string& text, int gap_ms) {
    const std::size_t at = reply.bytes.find(text);
    if (at != std::string::npos && text.size() > 1)
        reply.cuts = {at + text.size() / 2};
    reply.gap_ms = gap_ms;
    return reply;
}

std::string ssdp_answer(const std::string& location) {
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
           "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
           "USN: uuid:fa4e0000-0000-4000-8000-000000000001::"
           "urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
           "EXT:\r\nSERVER: Linux/6.1 UPnP/1.1 FakeGateway/1.0\r\nLOCATION: " +
           location + "\r\n\r\n";
}

// A small IGD v1 tree: the gateway (with a service of its own), its WAN device and the WAN
// connection device with the one service the client can drive.
std::string igd_description(const DescriptionOptions& o) {
    const auto service = [](const std::string& type, const std::string& control) {
        return "<serviceList><service>" + element("serviceType", type) +
               element("controlURL", control) + "</service></serviceList>";
    };
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
           "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
           "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>" +
           element("friendlyName", o.friendly_name) +
           service("urn:schemas-upnp-org:service:Layer3Forwarding:1", "/ctl/L3F") +
           "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>"
           "<deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>" +
           service(o.service_type, "/ctl/IPConn") +
           "</device></deviceList></device></deviceList></device></root>\r\n";
}

std::optional<std::string> Request::argument(const std::string& name) const {
    const std::size_t open = body.find("<" + name + ">");
    if (open == std::string::npos)
        return std::nullopt;
    const std::size_t from = open + name.size() + 2;
    return decode_entities(body.substr(from, body.find('<', from) - from));
}

struct FakeGateway::State {
    mutable std::mutex lock;
    int udp = -1;
    int listener = -1;
    int wake[2] = {-1, -1};
    std::thread ssdp_thread;
    std::thread http_thread;

    std::vector<Datagram> ssdp_answers;
    Reply description = http_ok(igd_description());
    std::map<std::string, Reply> by_action;
    std::map<int, Reply> by_index;
    std::function<std::optional<Reply>(const Request&)> handler;
    std::vector<Entry> table;
    std::string external_ip = "203.0.113.7";

    std::vector<std::string> ssdp_log;
    std::vector<Request> http_log;
    std::size_t accepted = 0;
    bool http_stopped = false;

    // Sleeps up to `ms`; false when the gateway is shutting down.
    bool nap(int ms) {
        pollfd p{wake[0], POLLIN, 0};
        return ms <= 0 || ::poll(&p, 1, ms) == 0;
    }

    // Waits for `fd` to be ready for `events`; false on shutdown.
    bool ready(int fd, short events) {
        pollfd p[2] = {{fd, events, 0}, {wake[0], POLLIN, 0}};
        for (;;) {
            const int r = ::poll(p, 2, -1);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 || (p[1].revents & POLLIN))
                return false;
            if (p[0].revents)
                return true;
        }
    }

    void run_ssdp() {
        std::vector<char> buffer(65536);
        while (ready(udp, POLLIN)) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(udp, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0)
                continue;
            std::vector<Datagram> answers;
            {
                std::lock_guard<std::mutex> guard(lock);
                ssdp_log.emplace_back(buffer.data(), static_cast<std::size_t>(n));
                answers = ssdp_answers;
            }
            for (const Datagram& d : answers) {
                if (!nap(d.delay_ms))
                    return;
                ::sendto(udp, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from),
                         length);
            }
        }
    }

    // Reads one request: the head up to the blank line, then Content-Length bytes of body.
    bool read_request(int fd, Request& request) {
        std::string& data = request.raw;
        std::size_t head_end = std::string::npos;
        for (;;) {
            head_end = data.find("\r\n\r\n");
            if (head_end != std::string::npos &&
                data.size() >= head_end + 4 +
                                   std::stoul("0" + header_value(data.substr(0, head_end + 2),
                                                                 "content-length")))
                break;
            char chunk[8192];
            if (!ready(fd, POLLIN))
                return false;
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                break;
            data.append(chunk, static_cast<std::size_t>(n));
        }
        if (head_end != std::string::npos) {
            const std::string action = header_value(data.substr(0, head_end + 2), "soapaction");
            const std::size_t hash = action.find('#');
            if (hash != std::string::npos)
                request.action = action.substr(hash + 1, action.find('"', hash) - hash - 1);
            request.body = data.substr(head_end + 4);
        }
        return true;
    }

    // The router's own answer (under the lock).
    Reply answer(const Request& r) {
        if (r.raw.rfind("GET ", 0) == 0)
            return r.raw.rfind("GET /rootDesc.xml ", 0) == 0 ? description
                                                             : http_status(404, "Not Found", "");
        const auto argument = [&r](const char* name) { return r.argument(name).value_or(""); };
        if (r.action == "GetExternalIPAddress")
            return soap_ok(r.action,
                           "<NewExternalIPAddress>" + external_ip + "</NewExternalIPAddress>");
        if (r.action == "GetGenericPortMappingEntry") {
            const long index = std::atol(argument("NewPortMappingIndex").c_str());
            if (index < 0 || static_cast<std::size_t>(index) >= table.size())
                return soap_fault(713, "SpecifiedArrayIndexInvalid");
            return soap_ok(r.action, entry_arguments(table[static_cast<std::size_t>(index)]));
        }
        const std::string port = argument("NewExternalPort");
        const std::string protocol = argument("NewProtocol");
        auto held = table.begin();
        while (held != table.end() && (held->external_port != port || held->protocol != protocol))
            ++held;
        if (r.action == "AddPortMapping") {
            const Entry e{port, protocol, argument("NewInternalPort"),
                          argument("NewInternalClient"), argument("NewPortMappingDescription")};
            if (held == table.end())
                table.push_back(e);
            else if (held->internal_client != e.internal_client)
                return soap_fault(718, "ConflictInMappingEntry");
            else
                *held = e;
            return soap_ok(r.action, "");
        }
        if (r.action == "DeletePortMapping") {
            if (held == table.end())
                return soap_fault(714, "NoSuchEntryInArray");
            table.erase(held);
            return soap_ok(r.action, "");
        }
        return soap_fault(401, "Invalid Action");
    }

    Reply choose(const Request& r) {
        std::unique_lock<std::mutex> guard(lock);
        const auto h = handler;
        guard.unlock();
        if (h) {
            if (std::optional<Reply> reply = h(r))
                return *reply;
        }
        guard.lock();
        const auto scripted =
            by_index.find(std::atoi(r.argument("NewPortMappingIndex").value_or("-1").c_str()));
        if (r.action == "GetGenericPortMappingEntry" && scripted != by_index.end())
            return scripted->second;
        const auto it = by_action.find(r.action);
        return !r.action.empty() && it != by_action.end() ? it->second : answer(r);
    }

    bool write_all(int fd, const char* data, std::size_t size) {
        for (std::size_t sent = 0; sent < size;) {
            const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
            else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
                     !ready(fd, POLLOUT))
                return false; // the client has gone
        }
        return true;
    }

    void serve(int fd) {
        Request request;
        if (!read_request(fd, request))
            return;
        {
            std::lock_guard<std::mutex> guard(lock);
            http_log.push_back(request);
        }
        const Reply reply = choose(request);
        if (reply.silent) {
            // Holds the connection until the client closes it (or the gateway shuts down).
            char sink[4096];
            while (ready(fd, POLLIN) && ::recv(fd, sink, sizeof sink, MSG_DONTWAIT) != 0) {
            }
            return;
        }
        if (!nap(reply.delay_ms))
            return;
        const std::size_t total = std::min(reply.bytes.size(), reply.close_after);
        std::vector<std::size_t> cuts = reply.cuts;
        cuts.push_back(total);
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            cut = std::min(cut, total);
            if (cut <= from)
                continue;
            if ((from > 0 && !nap(reply.gap_ms)) ||
                !write_all(fd, reply.bytes.data() + from, cut - from))
                return;
            from = cut;
        }
    }

    void run_http() {
        while (ready(listener, POLLIN)) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                {
                    std::lock_guard<std::mutex> guard(lock);
                    ++accepted;
                }
                serve(fd);
                ::close(fd);
            }
            std::lock_guard<std::mutex> guard(lock);
            if (http_stopped)
                return;
        }
    }
};

FakeGateway::FakeGateway() : state_(new State) {
    State& s = *state_;
    if (::pipe2(s.wake, O_CLOEXEC) != 0)
        throw std::runtime_error("fake gateway: no pipe");
    s.udp = bind_loopback(SOCK_DGRAM, ssdp_port_);
    s.listener = bind_loopback(SOCK_STREAM, http_port_);
    s.ssdp_answers = {{ssdp_answer(description_url()), 0}};
    s.ssdp_thread = std::thread([&s] { s.run_ssdp(); });
    s.http_thread = std::thread([&s] { s.run_http(); });
}

FakeGateway::~FakeGateway() {
    State& s = *state_;
    const char byte = 1;
    while (::write(s.wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
    s.ssdp_thread.join();
    s.http_thread.join();
    for (int fd : {s.udp, s.listener, s.wake[0], s.wake[1]})
        ::close(fd);
}

// Runs `f` on the state under its lock, handing back what `f` gives.
template <typename State, typename F> auto with_lock(State& state, F f) {
    std::lock_guard<std::mutex> guard(state.lock);
    return f(state);
}

void FakeGateway::set_ssdp_answers(std::vector<Datagram> answers) {
    with_lock(*state_, [&](auto& s) { s.ssdp_answers = std::move(answers); });
}

void FakeGateway::set_description(Reply reply) {
    with_lock(*state_, [&](auto& s) { s.description = std::move(reply); });
}

void FakeGateway::script(const std::string& action, Reply reply) {
    with_lock(*state_, [&](auto& s) { s.by_action[action] = std::move(reply); });
}

void FakeGateway::script_index(int index, Reply reply) {
    with_lock(*state_, [&](auto& s) { s.by_index[index] = std::move(reply); });
}

void FakeGateway::set_handler(std::function<std::optional<Reply>(const Request&)> handler) {
    with_lock(*state_, [&](auto& s) { s.handler = std::move(handler); });
}

void FakeGateway::stop_http() {
    // A shut-down listener refuses new connections and wakes the server thread.
    with_lock(*state_, [&](auto& s) {
        s.http_stopped = true;
        ::shutdown(s.listener, SHUT_RDWR);
    });
}

void FakeGateway::set_entries(std::vector<Entry> entries) {
    with_lock(*state_, [&](auto& s) { s.table = std::move(entries); });
}

std::vector<Entry> FakeGateway::entries() const {
    return with_lock(*state_, [&](auto& s) { return s.table; });
}

void FakeGateway::set_external_ip(const std::string& address) {
    with_lock(*state_, [&](auto& s) { s.external_ip = address; });
}

std::vector<std::string> FakeGateway::ssdp_requests() const {
    return with_lock(*state_, [&](auto& s) { return s.ssdp_log; });
}

std::vector<Request> FakeGateway::requests() const {
    return with_lock(*state_, [&](auto& s) { return s.http_log; });
}

std::vector<Request> FakeGateway::requests_for(const std::string& action) const {
    std::vector<Request> out;
    for (const Request& r : requests())
        if (r.action == action)
            out.push_back(r);
    return out;
}

std::size_t FakeGateway::connections() const {
    return with_lock(*state_, [&](auto& s) { return s.accepted; });
}

void FakeGateway::clear_records() {
    with_lock(*state_, [&](auto& s) {
        s.ssdp_log.clear();
        s.http_log.clear();
        s.accepted = 0;
    });
}

} // namespace fakegw
