#include "UpnpNat.h"
#include "socket_util.h"
#include "wire_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

using namespace upnp_detail;

namespace {

constexpr int kMaxCandidates = 6;
constexpr std::size_t kDatagramSize = 102400;
constexpr int kDescriptionReads = 30;

using Clock = std::chrono::steady_clock;

int ms_until(Clock::time_point moment) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool names_a_gateway(const std::string& description) {
    return description.find(upnp_wire::kGatewayDeviceType) != std::string::npos ||
           description.find(upnp_wire::kGatewayDeviceType2) != std::string::npos;
}

} // namespace

bool UpnpNat::discovery() {
    close_udp();
    udp_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(ssdp_port);
    const bool addressed =
        udp_socket >= 0 && ::inet_pton(AF_INET, ssdp_address.c_str(), &destination.sin_addr) == 1;
    if (udp_socket >= 0) {
        const int on = 1;
        ::setsockopt(udp_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        set_nonblocking(udp_socket, true);
    }
    // A version 2 gateway need not answer a search for version 1, nor the other way round.
    const auto send_burst = [&] {
        if (!addressed)
            return;
        for (const std::string text : {upnp_wire::kSearchRequest, upnp_wire::kSearchRequest2})
            ::sendto(udp_socket, text.data(), text.size(), 0,
                     reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    };
    send_burst();
    say("22222222 find router\n");

    // A datagram lost on the way gets one more chance with the repeated burst.
    const auto start = Clock::now();
    const auto repeat_at = start + std::chrono::milliseconds(timings.ssdp_repeat_ms);
    const auto end = start + std::chrono::milliseconds(timings.ssdp_window_ms);
    bool repeated = false;
    std::vector<std::string> seen;
    std::vector<char> buffer(kDatagramSize);
    while (udp_socket >= 0 && static_cast<int>(seen.size()) < kMaxCandidates) {
        if (!repeated && Clock::now() >= repeat_at) {
            send_burst();
            repeated = true;
        }
        if (Clock::now() >= end)
            break;
        if (!wait_readable(udp_socket, ms_until(repeated ? end : std::min(end, repeat_at))))
            continue;
        const ssize_t n = ::recvfrom(udp_socket, buffer.data(), kDatagramSize, 0, nullptr, nullptr);
        say("recvfrom ret is %d\n", static_cast<int>(n));
        if (n < 0)
            continue;
        std::string answer;
        upnp_wire::append_received(answer, buffer.data(), static_cast<std::size_t>(n));
        say("discovery:%s\n", answer.c_str());
        std::string url;
        if (answer.find("200 OK") == std::string::npos ||
            !upnp_wire::description_url_of(answer, url) ||
            std::find(seen.begin(), seen.end(), url) != seen.end())
            continue;
        seen.push_back(url);
        if (examine(url)) {
            close_udp();
            return succeed(STATUS_DISCOVERED);
        }
        if (log) {
            std::string reason = last_error;
            if (!reason.empty() && reason.back() == '\n')
                reason.pop_back();
            log("description of " + url + " refused: " + reason);
        }
    }
    close_udp();
    return fail("Fail to find an UPNP NAT.\n", Failure::unreachable);
}

bool UpnpNat::open_description(const std::string& url) {
    return examine(url) && succeed(STATUS_DISCOVERED);
}

bool UpnpNat::examine(const std::string& url) {
    describe_url = url;
    say("before get descripton.....\n");
    if (!get_description()) {
        say("inner get_description error\n");
        return false;
    }
    say("get description ok xxxxxx\n");
    if (!names_a_gateway(description)) {
        close_tcp();
        return fail("Fail to find device "
                    "\"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n",
                    description.empty() ? Failure::unreachable : Failure::bad_answer);
    }
    return parse_description();
}

bool UpnpNat::get_description() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timings.description_deadline_ms);
    std::string host;
    uint16_t port = 0;
    std::string path;
    const bool split = parse_url(describe_url, host, port, path);
    say("get_description:describe_url[%s],host[%s],port[%d],path[%s]\n", describe_url.c_str(),
        host.c_str(), static_cast<int>(port), path.c_str());
    if (!split)
        return fail("Failed to parseURl: " + describe_url + "\n", Failure::unreachable);
    say("connect to router 1111111\n");
    if (!connect_within(host, port, std::min(timings.connect_budget_ms, ms_until(deadline))))
        return false;
    say("111111111111111111\n");
    send_whole(tcp_socket, upnp_wire::description_request(path, host, port), ms_until(deadline));
    description = receive_answer("</root>", kDescriptionReads, Echo::chunks, ms_until(deadline));
    say("response is %s\n", description.c_str());
    return succeed(status);
}
