#include "FakeGateway.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fakegw {

namespace {

using clock = std::chrono::steady_clock;

std::string decode_entities(const std::string& text) {
    static const std::pair<const char*, char> table[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool done = false;
        if (text[i] == '&') {
            for (const auto& [name, c] : table) {
                if (text.compare(i, std::strlen(name), name) == 0) {
                    out += c;
                    i += std::strlen(name);
                    done = true;
                    break;
                }
            }
        }
        if (!done)
            out += text[i++];
    }
    return out;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Value of a header (name in any case) of a request head, or empty.
std::string header_value(const std::string& head, const std::string& name) {
    const std::string wanted = lower(name);
    std::size_t line = head.find("\r\n");
    while (line != std::string::npos) {
        line += 2;
        const std::size_t end = head.find("\r\n", line);
        const std::string text = head.substr(line, end == std::string::npos ? end : end - line);
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos) {
            std::string key = text.substr(0, colon);
            while (!key.empty() && key.back() == ' ')
                key.pop_back();
            if (lower(key) == wanted) {
                std::size_t v = colon + 1;
                while (v < text.size() && text[v] == ' ')
                    ++v;
                return text.substr(v);
            }
        }
        line = end;
    }
    return std::string();
}

int bind_loopback(int type, uint16_t& port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("fake gateway: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("fake gateway: cannot bind on loopback");
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    if (type == SOCK_STREAM && ::listen(fd, 16) != 0)
        throw std::runtime_error("fake gateway: cannot listen");
    return fd;
}

} // namespace

std::optional<std::string> Request::argument(const std::string& name) const {
    // Finds "<name>" or "<prefix:name>" followed by its text up to the next "<".
    std::size_t at = 0;
    while ((at = body.find('<', at)) != std::string::npos) {
        std::size_t end = body.find_first_of("> \t\r\n/", at + 1);
        if (end == std::string::npos)
            break;
        std::string tag = body.substr(at + 1, end - at - 1);
        const std::size_t colon = tag.find(':');
        if (colon != std::string::npos)
            tag = tag.substr(colon + 1);
        if (tag == name) {
            const std::size_t close = body.find('>', end);
            if (close == std::string::npos)
                return std::nullopt;
            if (body[close - 1] == '/')
                return std::string();
            const std::size_t text_end = body.find('<', close + 1);
            return decode_entities(body.substr(close + 1, text_end == std::string::npos
                                                              ? std::string::npos
                                                              : text_end - close - 1));
        }
        at = end;
    }
    return std::nullopt;
}

struct FakeGateway::State {
    mutable std::mutex lock;
    int udp = -1;
    int listener = -1;
    int wake[2] = {-1, -1};
    uint16_t udp_port = 0;
    uint16_t tcp_port = 0;
    std::thread ssdp_thread;
    std::thread http_thread;

    std::vector<Datagram> ssdp_answers;
    bool ssdp_default = true;
    Reply description;
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
        if (ms <= 0)
            return true;
        pollfd p{wake[0], POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
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
                if (ssdp_default)
                    answers = {Datagram{ssdp_answer("http://127.0.0.1:" + std::to_string(tcp_port) +
                                                    "/rootDesc.xml"),
                                        0}};
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
        std::string data;
        char chunk[8192];
        std::size_t head_end = std::string::npos;
        std::size_t wanted = 0;
        for (;;) {
            if (head_end == std::string::npos) {
                head_end = data.find("\r\n\r\n");
                if (head_end != std::string::npos) {
                    const std::string length =
                        header_value(data.substr(0, head_end + 2), "Content-Length");
                    wanted = head_end + 4 + static_cast<std::size_t>(std::atol(length.c_str()));
                }
            }
            if (head_end != std::string::npos && data.size() >= wanted)
                break;
            if (!ready(fd, POLLIN))
                return false;
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                break;
            data.append(chunk, static_cast<std::size_t>(n));
        }
        request.raw = data;
        const std::size_t line_end = data.find("\r\n");
        const std::string line = data.substr(0, line_end);
        const std::size_t s1 = line.find(' ');
        const std::size_t s2 = line.find(' ', s1 == std::string::npos ? 0 : s1 + 1);
        if (s1 != std::string::npos) {
            request.method = line.substr(0, s1);
            request.path = line.substr(s1 + 1, s2 == std::string::npos ? s2 : s2 - s1 - 1);
        }
        if (head_end != std::string::npos) {
            const std::string head = data.substr(0, head_end + 2);
            std::string soap_action = header_value(head, "SOAPACTION");
            const std::size_t hash = soap_action.find('#');
            if (hash != std::string::npos) {
                soap_action = soap_action.substr(hash + 1);
                const std::size_t quote = soap_action.find('"');
                request.action = soap_action.substr(0, quote);
            }
            request.body = data.substr(head_end + 4);
        }
        return true;
    }

    // The router's own answer (under the lock).
    Reply answer(const Request& r) {
        if (r.method == "GET") {
            if (r.path == "/rootDesc.xml")
                return description;
            return http_status(404, "Not Found", "");
        }
        if (r.action == "GetExternalIPAddress")
            return soap_ok(r.action, "<NewExternalIPAddress>" + xml_escape(external_ip) +
                                         "</NewExternalIPAddress>");
        if (r.action == "GetGenericPortMappingEntry") {
            const long index = std::atol(r.argument("NewPortMappingIndex").value_or("-1").c_str());
            if (index < 0 || static_cast<std::size_t>(index) >= table.size())
                return soap_fault(713, "SpecifiedArrayIndexInvalid");
            return soap_ok(r.action, entry_arguments(table[static_cast<std::size_t>(index)]));
        }
        if (r.action == "AddPortMapping") {
            Entry e;
            e.remote_host = r.argument("NewRemoteHost").value_or("");
            e.external_port = r.argument("NewExternalPort").value_or("");
            e.protocol = r.argument("NewProtocol").value_or("");
            e.internal_port = r.argument("NewInternalPort").value_or("");
            e.internal_client = r.argument("NewInternalClient").value_or("");
            e.enabled = r.argument("NewEnabled").value_or("");
            e.description = r.argument("NewPortMappingDescription").value_or("");
            e.lease_duration = r.argument("NewLeaseDuration").value_or("");
            if (e.protocol != "TCP" && e.protocol != "UDP")
                return soap_fault(402, "Invalid Args");
            for (Entry& held : table) {
                if (held.external_port == e.external_port && held.protocol == e.protocol) {
                    if (held.internal_client != e.internal_client)
                        return soap_fault(718, "ConflictInMappingEntry");
                    held = e;
                    return soap_ok(r.action, "");
                }
            }
            table.push_back(e);
            return soap_ok(r.action, "");
        }
        if (r.action == "DeletePortMapping") {
            const std::string port = r.argument("NewExternalPort").value_or("");
            const std::string protocol = r.argument("NewProtocol").value_or("");
            for (auto it = table.begin(); it != table.end(); ++it) {
                if (it->external_port == port && it->protocol == protocol) {
                    table.erase(it);
                    return soap_ok(r.action, "");
                }
            }
            return soap_fault(714, "NoSuchEntryInArray");
        }
        return soap_fault(401, "Invalid Action");
    }

    Reply choose(const Request& r) {
        std::function<std::optional<Reply>(const Request&)> h;
        {
            std::lock_guard<std::mutex> guard(lock);
            h = handler;
        }
        if (h) {
            if (std::optional<Reply> reply = h(r))
                return *reply;
        }
        std::lock_guard<std::mutex> guard(lock);
        if (r.action == "GetGenericPortMappingEntry") {
            const long index = std::atol(r.argument("NewPortMappingIndex").value_or("-1").c_str());
            const auto it = by_index.find(static_cast<int>(index));
            if (it != by_index.end())
                return it->second;
        }
        const auto it = by_action.find(r.action);
        if (!r.action.empty() && it != by_action.end())
            return it->second;
        return answer(r);
    }

    bool write_all(int fd, const char* data, std::size_t size) {
        std::size_t sent = 0;
        while (sent < size) {
            const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                if (!ready(fd, POLLOUT))
                    return false;
                continue;
            }
            return false; // the client has gone
        }
        return true;
    }

    // Holds a connection until the client closes it (or the gateway shuts down).
    void hold(int fd) {
        char sink[4096];
        while (ready(fd, POLLIN)) {
            const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return;
        }
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
            hold(fd);
            return;
        }
        if (!nap(reply.delay_ms))
            return;
        const std::size_t total = std::min(reply.bytes.size(), reply.close_after);
        std::size_t from = 0;
        std::vector<std::size_t> cuts = reply.cuts;
        cuts.push_back(total);
        for (std::size_t cut : cuts) {
            cut = std::min(cut, total);
            if (cut <= from)
                continue;
            if (from > 0 && !nap(reply.gap_ms))
                return;
            if (!write_all(fd, reply.bytes.data() + from, cut - from))
                return;
            from = cut;
        }
        if (reply.keep_open && reply.close_after == SIZE_MAX)
            hold(fd);
    }

    void run_http() {
        while (ready(listener, POLLIN)) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                std::lock_guard<std::mutex> guard(lock);
                if (http_stopped)
                    return;
                continue;
            }
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            {
                std::lock_guard<std::mutex> guard(lock);
                ++accepted;
            }
            serve(fd);
            ::close(fd);
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
    s.udp = bind_loopback(SOCK_DGRAM, s.udp_port);
    s.listener = bind_loopback(SOCK_STREAM, s.tcp_port);
    s.description = http_ok(igd_description());
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
    ::close(s.udp);
    ::close(s.listener);
    ::close(s.wake[0]);
    ::close(s.wake[1]);
}

uint16_t FakeGateway::ssdp_port() const {
    return state_->udp_port;
}
uint16_t FakeGateway::http_port() const {
    return state_->tcp_port;
}

std::string FakeGateway::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(state_->tcp_port) + path;
}

std::string FakeGateway::description_url() const {
    return url("/rootDesc.xml");
}

void FakeGateway::set_ssdp_answers(std::vector<Datagram> answers) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->ssdp_answers = std::move(answers);
    state_->ssdp_default = false;
}

void FakeGateway::set_description(Reply reply) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->description = std::move(reply);
}

void FakeGateway::set_description_text(const std::string& xml) {
    set_description(http_ok(xml));
}

void FakeGateway::script(const std::string& action, Reply reply) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->by_action[action] = std::move(reply);
}

void FakeGateway::script_index(int index, Reply reply) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->by_index[index] = std::move(reply);
}

void FakeGateway::set_handler(std::function<std::optional<Reply>(const Request&)> handler) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->handler = std::move(handler);
}

void FakeGateway::clear_script() {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->by_action.clear();
    state_->by_index.clear();
    state_->handler = nullptr;
}

void FakeGateway::stop_http() {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->http_stopped = true;
    // A shut-down listener refuses new connections and wakes the server thread.
    ::shutdown(state_->listener, SHUT_RDWR);
}

void FakeGateway::set_entries(std::vector<Entry> entries) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->table = std::move(entries);
}

std::vector<Entry> FakeGateway::entries() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->table;
}

void FakeGateway::set_external_ip(const std::string& address) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->external_ip = address;
}

std::vector<std::string> FakeGateway::ssdp_requests() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->ssdp_log;
}

std::vector<Request> FakeGateway::requests() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->http_log;
}

std::vector<Request> FakeGateway::requests_for(const std::string& action) const {
    std::vector<Request> out;
    for (const Request& r : requests())
        if (r.action == action)
            out.push_back(r);
    return out;
}

std::size_t FakeGateway::connections() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->accepted;
}

void FakeGateway::clear_records() {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->ssdp_log.clear();
    state_->http_log.clear();
    state_->accepted = 0;
}

} // namespace fakegw
