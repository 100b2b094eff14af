#include "UpnpNat.h"
#include "socket_util.h"
#include "wire_text.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

using namespace upnp_detail;

namespace {

constexpr int kPasses = 6;
constexpr std::size_t kDatagramSize = 102400;
constexpr int kDescriptionReads = 30;

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

bool UpnpNat::discovery() {
    udp_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (udp_socket >= 0) {
        const int on = 1;
        ::setsockopt(udp_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_port = htons(ssdp_port);
        if (::inet_pton(AF_INET, ssdp_address.c_str(), &destination.sin_addr) == 1)
            ::sendto(udp_socket, upnp_wire::kSearchRequest, sizeof upnp_wire::kSearchRequest - 1, 0,
                     reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    }
    say("22222222 find router");

    std::vector<char> buffer(kDatagramSize + 1, '\0');
    for (int pass = 0; pass < kPasses; ++pass) {
        ssize_t n = -1;
        if (udp_socket >= 0) {
            set_nonblocking(udp_socket, true);
            // Waits for an answer instead of sleeping a whole pass: a prompt gateway is read
            // as soon as it has answered.
            wait_readable(udp_socket, timings.ssdp_wait_ms);
            n = ::recvfrom(udp_socket, buffer.data(), kDatagramSize, 0, nullptr, nullptr);
        } else {
            pause_ms(timings.ssdp_wait_ms);
        }
        std::printf("recvfrom ret is %d\n", static_cast<int>(n));
        if (n < 0) {
            say("ccccccccccccccc sleep");
            if (udp_socket >= 0)
                wait_readable(udp_socket, timings.ssdp_idle_ms);
            else
                pause_ms(timings.ssdp_idle_ms);
            continue;
        }
        const std::string answer(buffer.data(), static_cast<std::size_t>(n));
        buffer[static_cast<std::size_t>(n)] = '\0';
        std::printf("discovery:%s\n", buffer.data());
        std::fflush(stdout);
        if (answer.find("200 OK") == std::string::npos)
            continue;
        std::string url;
        if (!upnp_wire::description_url_of(answer, url))
            continue;
        describe_url = url;
        say("before get descripton.....");
        if (!get_description()) {
            say("inner get_description error");
            continue;
        }
        say("get description ok xxxxxx");
        if (description.find(upnp_wire::kGatewayDeviceType) == std::string::npos) {
            close_tcp();
            continue;
        }
        close_udp();
        status = STATUS_DISCOVERED;
        return true;
    }
    close_udp();
    return fail("Fail to find an UPNP NAT.\n");
}

bool UpnpNat::get_description() {
    std::string host;
    uint16_t port = 0;
    std::string path;
    const bool split = parse_url(describe_url, host, port, path);
    std::printf("get_description:describe_url[%s],host[%s],port[%d],path[%s]\n",
                describe_url.c_str(), host.c_str(), static_cast<int>(port), path.c_str());
    std::fflush(stdout);
    if (!split)
        return fail("Failed to parseURl: " + describe_url + "\n");
    say("connect to router 1111111");
    if (!tcp_connect(host, port))
        return false;
    say("111111111111111111");
    send_whole(tcp_socket, upnp_wire::description_request(path, host, port),
               timings.read_wait_ms * kDescriptionReads);
    description = receive_answer("</root>", kDescriptionReads, Echo::chunks);
    std::printf("response is %s\n", description.c_str());
    std::fflush(stdout);
    return true;
}
