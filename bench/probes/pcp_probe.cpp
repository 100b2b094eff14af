// Drives the PCP client by hand against a real router (the lab's), one request per run:
//   pcp_probe announce GATEWAY [--from ADDRESS]
//   pcp_probe map GATEWAY tcp|udp PORT LIFETIME [--from ADDRESS] [--nonce HEX]
//             [--external PORT] [--third-party ADDRESS]
//   pcp_probe listen SECONDS          (the router's announcements on 5350)
// Prints the router's verdict, what it granted and the nonce to delete the mapping with.
#include "PcpClient.h"
#include "PcpListener.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>

using namespace pcp_wire;

int main(int argc, char** argv) {
    const std::string command = argc > 2 ? argv[1] : "";
    if (command == "listen") {
        PcpListener listener;
        if (!listener.open())
            return std::puts("cannot listen on 5350"), 1;
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
        while (std::chrono::steady_clock::now() < end) {
            pollfd waits[2] = {};
            int n = 0;
            for (int fd : listener.fds())
                waits[n++] = {fd, POLLIN, 0};
            ::poll(waits, n, 100);
            for (PcpAnnouncement heard; listener.take(heard);)
                std::printf("announcement from %s, epoch %u\n", heard.from.c_str(), heard.epoch);
        }
        return 0;
    }
    std::string from, nonce_text;
    MapRequest request;
    request.nonce = random_nonce();
    int arg = command == "map" ? 6 : 3;
    if (arg > argc || (command != "map" && command != "announce"))
        return std::puts("usage: pcp_probe announce|map|listen ... (see the source)"), 2;
    for (; arg + 1 < argc; arg += 2) {
        const std::string flag = argv[arg], value = argv[arg + 1];
        if (flag == "--from")
            from = value;
        else if (flag == "--nonce" && !nonce_of_hex(value, request.nonce))
            return std::puts("--nonce: 24 hex digits"), 2;
        else if (flag == "--external")
            request.suggested_port = static_cast<uint16_t>(std::atoi(value.c_str()));
        else if (flag == "--third-party")
            request.third_party = value;
    }
    PcpClient client;
    client.log_request = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    if (const int opened = client.open(argv[2], from))
        return std::printf("open: %s\n", result_words(opened).c_str()), 1;
    std::printf("from %s to %s\n", client.local_address().c_str(), client.gateway().c_str());
    const auto start = std::chrono::steady_clock::now();
    int result = 0;
    PcpMapping granted;
    if (command == "announce") {
        result = client.announce();
    } else {
        request.protocol = std::strcmp(argv[3], "udp") == 0 ? UDP : TCP;
        request.internal_port = static_cast<uint16_t>(std::atoi(argv[4]));
        request.lifetime = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));
        result = client.map(request, granted);
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s (%s) in %.1f ms, version %d, epoch %u\n", result_name(result).c_str(),
                result_words(result, !request.third_party.empty(), request.lifetime == 0).c_str(),
                ms, client.answered_version(), client.epoch());
    if (command == "map" && result == SUCCESS)
        std::printf("granted %s:%u for %u s, nonce %s\n", granted.external_address.c_str(),
                    granted.external_port, granted.lifetime, nonce_hex(request.nonce).c_str());
    return result == SUCCESS ? 0 : 1;
}
