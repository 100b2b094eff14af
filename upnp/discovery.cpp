#include "UpnpNat.h"
#include "default_gateway.h"
#include "wire/ssdp_notify.h"
#include "wire/wire_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

using upnp_http::Clock;

namespace {

// Answers with a new LOCATION beyond this many are not looked at: each costs a connection.
constexpr std::size_t kMaxCandidates = 16;
constexpr std::size_t kDatagramSize = 102400;
constexpr int kDescriptionReads = 30;

Clock::time_point after(Clock::time_point from, int ms) {
    return from + std::chrono::milliseconds(ms);
}

int ms_until(Clock::time_point moment) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool names_a_gateway(const std::string& description) {
    return description.find(upnp_wire::kGatewayDeviceType) != std::string::npos ||
           description.find(upnp_wire::kGatewayDeviceType2) != std::string::npos;
}

std::string seconds(int ms) {
    return std::to_string((ms + 999) / 1000) + " s";
}

// One answer of the search whose description is on its way.
struct Candidate {
    std::string url;
    std::string host;
    std::string boot_id;
    std::unique_ptr<upnp_http::Exchange> fetch;
};

} // namespace

// One discovery: the search bursts, the answers heard, their descriptions on their way side by
// side, and when to decide.
class SsdpSearch {
  public:
    explicit SsdpSearch(UpnpNat& nat);
    // True when a usable router is in `routers`.
    bool run();
    const std::string& gateway() const { return gateway_; }

  private:
    void send_burst();
    bool listening(Clock::time_point now) const;
    bool over(Clock::time_point now) const;
    Clock::time_point wake(Clock::time_point now) const;
    void step_candidates(const std::vector<pollfd>& waits);
    bool waiting_answer() const;
    void hear();

    UpnpNat& nat_;
    const UpnpTimings& t_;
    sockaddr_storage destination_{};
    socklen_t destination_size_ = 0;
    bool addressed_ = false;
    std::string gateway_;
    const Clock::time_point start_ = Clock::now();
    Clock::time_point choose_by_ = Clock::time_point::max();
    Clock::time_point others_by_ = Clock::time_point::max();
    bool repeated_ = false, gateway_found_ = false;
    std::vector<std::string> seen_;
    std::vector<Candidate> pending_;
    std::vector<char> buffer_ = std::vector<char>(kDatagramSize);
};

SsdpSearch::SsdpSearch(UpnpNat& nat) : nat_(nat), t_(nat.timings) {
    auto& v4 = reinterpret_cast<sockaddr_in&>(destination_);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(nat_.ssdp_port);
    destination_size_ = sizeof v4;
    addressed_ = ::inet_pton(AF_INET, nat_.ssdp_address.c_str(), &v4.sin_addr) == 1;
    // An IPv6 group may name its interface after a "%": link-local multicast needs one where
    // the computer has several.
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    if (!addressed_ && ::getaddrinfo(nat_.ssdp_address.c_str(),
                                     std::to_string(nat_.ssdp_port).c_str(), &hints, &found) == 0) {
        std::memcpy(&destination_, found->ai_addr, destination_size_ = found->ai_addrlen);
        ::freeaddrinfo(found);
        addressed_ = true;
    }
    nat_.udp_socket =
        ::socket(destination_.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    addressed_ = addressed_ && nat_.udp_socket >= 0;
    if (nat_.udp_socket >= 0) {
        const int on = 1;
        ::setsockopt(nat_.udp_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    gateway_ =
        nat_.default_gateway.empty() ? upnp_detail::system_default_gateway() : nat_.default_gateway;
}

// A version 2 gateway need not answer a search for version 1, nor the other way round.
void SsdpSearch::send_burst() {
    if (!addressed_)
        return;
    for (std::string text : {upnp_wire::kSearchRequest, upnp_wire::kSearchRequest2}) {
        if (destination_.ss_family == AF_INET6)
            text.replace(text.find("239.255.255.250"), 15, "[FF02::C]");
        ::sendto(nat_.udp_socket, text.data(), text.size(), 0,
                 reinterpret_cast<const sockaddr*>(&destination_), destination_size_);
    }
}

bool SsdpSearch::run() {
    send_burst();
    nat_.say("22222222 find router\n");
    std::vector<pollfd> waits;
    for (;;) {
        const Clock::time_point now = Clock::now();
        // A datagram lost on the way gets one more chance with the repeated burst.
        if (!repeated_ && now >= after(start_, t_.ssdp_repeat_ms)) {
            send_burst();
            repeated_ = true;
        }
        if (over(now)) {
            // Answers that came with the gateway's own are still heard, and get their moment.
            if (gateway_found_ && pending_.empty() && now < others_by_ && waiting_answer()) {
                hear();
                continue;
            }
            break;
        }
        waits.assign(1, pollfd{listening(now) ? nat_.udp_socket : -1, POLLIN, 0});
        for (const Candidate& c : pending_)
            waits.push_back(pollfd{c.fetch->fd(), c.fetch->events(), 0});
        if (::poll(waits.data(), waits.size(), ms_until(wake(now))) < 0)
            std::fill(waits.begin(), waits.end(), pollfd{-1, 0, 0});
        step_candidates(waits);
        if (waits[0].revents & POLLIN)
            hear();
    }
    return !nat_.routers.empty();
}

bool SsdpSearch::listening(Clock::time_point now) const {
    return nat_.udp_socket >= 0 && now < after(start_, t_.ssdp_window_ms) &&
           seen_.size() < kMaxCandidates;
}

bool SsdpSearch::over(Clock::time_point now) const {
    if (now >= after(start_, t_.search_limit_ms))
        return true;
    if (gateway_found_)
        return pending_.empty() || now >= others_by_;
    // The default gateway's own IGD is the router that connects this computer: another one waits
    // for it a little, and for a description of it that is still on its way.
    const bool gateway_pending = std::any_of(
        pending_.begin(), pending_.end(), [&](const Candidate& c) { return c.host == gateway_; });
    if (!nat_.routers.empty() && now >= choose_by_ && !gateway_pending)
        return true;
    return !listening(now) && pending_.empty();
}

Clock::time_point SsdpSearch::wake(Clock::time_point now) const {
    Clock::time_point wake = std::min({after(start_, t_.search_limit_ms), choose_by_, others_by_});
    if (listening(now)) {
        const Clock::time_point end = after(start_, t_.ssdp_window_ms);
        wake = std::min(wake, repeated_ ? end : std::min(end, after(start_, t_.ssdp_repeat_ms)));
    }
    for (const Candidate& c : pending_)
        wake = std::min(wake, c.fetch->wake_at());
    return wake;
}

void SsdpSearch::step_candidates(const std::vector<pollfd>& waits) {
    for (std::size_t i = 0; i < pending_.size(); ++i)
        pending_[i].fetch->step(waits[i + 1].revents);
    for (auto c = pending_.begin(); c != pending_.end();) {
        if (!c->fetch->done()) {
            ++c;
            continue;
        }
        if (nat_.settle(c->url, *c->fetch)) {
            nat_.routers.back().address = c->host;
            nat_.routers.back().boot_id = c->boot_id;
            if (c->host == gateway_ && !gateway_found_) {
                gateway_found_ = true;
                others_by_ = after(Clock::now(), t_.ssdp_others_ms);
            }
            if (choose_by_ == Clock::time_point::max())
                choose_by_ = after(Clock::now(), t_.ssdp_choice_ms);
        }
        c = pending_.erase(c);
    }
}

bool SsdpSearch::waiting_answer() const {
    pollfd p{nat_.udp_socket, POLLIN, 0};
    return seen_.size() < kMaxCandidates && ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

void SsdpSearch::hear() {
    const ssize_t n =
        ::recvfrom(nat_.udp_socket, buffer_.data(), buffer_.size(), 0, nullptr, nullptr);
    nat_.say("recvfrom ret is %d\n", static_cast<int>(n));
    if (n < 0)
        return;
    std::string answer;
    upnp_wire::append_received(answer, buffer_.data(), static_cast<std::size_t>(n));
    nat_.say("discovery:%s\n", answer.c_str());
    std::string url;
    if (answer.find("200 OK") == std::string::npos || !upnp_wire::description_url_of(answer, url) ||
        std::find(seen_.begin(), seen_.end(), url) != seen_.end())
        return;
    seen_.push_back(url);
    upnp_http::Url to;
    nat_.say("before get descripton.....\n");
    if (!upnp_http::split_url(url, to)) {
        if (nat_.log)
            nat_.log("description of " + url + " refused: its address cannot be used");
        return;
    }
    // Each candidate has its own time; none may hold the search past its limit.
    upnp_http::Limits limits = nat_.limits(kDescriptionReads);
    limits.deadline = std::min(after(start_, t_.search_limit_ms),
                               after(Clock::now(), t_.description_deadline_ms));
    std::string boot_id;
    upnp_wire::ssdp_header(answer, "BOOTID.UPNP.ORG", boot_id);
    pending_.push_back(
        {url, to.host, boot_id,
         std::make_unique<upnp_http::Exchange>(
             to.host, to.port, upnp_wire::description_request(to.path, to.authority()), limits,
             "</root>")});
}

bool UpnpNat::discovery() {
    close_udp();
    routers.clear();
    SsdpSearch search(*this);
    const bool found = search.run();
    close_udp();
    if (!found)
        return fail("Fail to find an UPNP NAT.\n", Failure::unreachable);
    // The gateway's own first; the others in the order they became usable.
    std::stable_partition(routers.begin(), routers.end(),
                          [&](const IgdRouter& r) { return r.address == search.gateway(); });
    use_router(0);
    return succeed(STATUS_DISCOVERED);
}

bool UpnpNat::settle(const std::string& url, const upnp_http::Exchange& fetch) {
    describe_url = url;
    description = fetch.text();
    answer_problem_ = fetch.error();
    const std::string budget = seconds(timings.description_deadline_ms);
    std::string outcome;
    if (!fetch.connected()) {
        say("inner get_description error\n");
        outcome = fetch.refused() ? "refused: nothing listens there"
                                  : "timed out: no connection within " + budget;
    } else if (!fetch.heard()) {
        outcome = "timed out: no answer within " + budget;
    } else {
        say("get description ok xxxxxx\n");
        if (take_description(after(Clock::now(), timings.description_deadline_ms))) {
            routers.push_back(current_router());
            return true;
        }
        outcome = "refused: " + last_error;
        if (outcome.back() == '\n')
            outcome.pop_back();
    }
    if (log)
        log("description of " + url + " " + outcome);
    return false;
}

bool UpnpNat::open_description(const std::string& url) {
    routers.clear();
    describe_url = url;
    boot_id.clear();
    say("before get descripton.....\n");
    const Clock::time_point deadline = after(Clock::now(), timings.description_deadline_ms);
    if (!get_description()) {
        say("inner get_description error\n");
        return false;
    }
    say("get description ok xxxxxx\n");
    if (!take_description(deadline))
        return false;
    routers.push_back(current_router());
    upnp_http::Url to;
    upnp_http::split_url(url, to);
    routers.back().address = to.host;
    return succeed(STATUS_DISCOVERED);
}

bool UpnpNat::take_description(Clock::time_point deadline) {
    if (!answer_problem_.empty()) {
        close_tcp();
        return fail("The description cannot be read: " + answer_problem_ + ".\n",
                    Failure::bad_answer);
    }
    if (!names_a_gateway(description)) {
        close_tcp();
        return fail("Fail to find device "
                    "\"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n",
                    description.empty() ? Failure::unreachable : Failure::bad_answer);
    }
    if (!parse_description())
        return false;
    prefer_connected_service(deadline);
    return true;
}

IgdRouter UpnpNat::current_router() const {
    IgdRouter router;
    router.describe_url = describe_url;
    router.description = description;
    router.base_URL = base_URL;
    router.service_type = service_type;
    router.control_url = control_url;
    router.friendly_name = friendly_name;
    router.igd_version = igd_version;
    router.firewall_control_url = firewall_control_url;
    router.udn = udn;
    return router;
}

bool UpnpNat::use_router(std::size_t index) {
    if (index >= routers.size())
        return false;
    const IgdRouter& router = routers[index];
    describe_url = router.describe_url;
    description = router.description;
    base_URL = router.base_URL;
    service_type = router.service_type;
    control_url = router.control_url;
    friendly_name = router.friendly_name;
    igd_version = router.igd_version;
    firewall_control_url = router.firewall_control_url;
    udn = router.udn;
    boot_id = router.boot_id;
    return true;
}

bool UpnpNat::get_description() {
    const Clock::time_point deadline = after(Clock::now(), timings.description_deadline_ms);
    upnp_http::Url to;
    std::string why;
    const bool split = upnp_http::split_url(describe_url, to, &why);
    say("get_description:describe_url[%s],host[%s],port[%d],path[%s]\n", describe_url.c_str(),
        to.host.c_str(), static_cast<int>(to.port), to.path.c_str());
    if (!split)
        return fail("Failed to parseURl: " + describe_url + "\n", Failure::unreachable);
    say("connect to router 1111111\n");
    if (!transfer(to, upnp_wire::description_request(to.path, to.authority()), kDescriptionReads,
                  "</root>", Echo::chunks, deadline, description))
        return false;
    say("111111111111111111\n");
    say("response is %s\n", description.c_str());
    return succeed(status);
}
