#include "lab_router.h"

#include "figures.h"

#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

const char* const kRouterNamespace = "quaymap-router";
const char* const kTable = "quaymap_bench";

std::string in_router(const std::string& command) {
    return std::string("ip netns exec ") + kRouterNamespace + " " + command;
}

} // namespace

bool inside_lab_namespace() {
    struct stat own {};
    struct stat lab {};
    return stat("/proc/self/ns/net", &own) == 0 && stat("/run/netns/quaymap-lan", &lab) == 0 &&
           own.st_ino == lab.st_ino && own.st_dev == lab.st_dev;
}

RouterConnections::RouterConnections(int http_port) {
    // Opening packets only, from the LAN side: the relay's own connections come over loopback.
    const std::string rules =
        std::string("table inet ") + kTable + " {\n counter connections {\n }\n chain input {\n" +
        "  type filter hook input priority -200; policy accept;\n  iifname \"qm-lan0\" tcp dport " +
        std::to_string(http_port) +
        " tcp flags & (syn | ack) == syn counter name connections\n }\n}";
    const std::string command = in_router("nft -f - <<'EOF'\n" + rules + "\nEOF\n");
    if (std::system(command.c_str()) != 0)
        die("cannot count the router's connections (nft in the router's namespace)");
}

RouterConnections::~RouterConnections() {
    const std::string command = in_router(std::string("nft delete table inet ") + kTable);
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "lab bench: the connection counter stays in the router\n");
}

long RouterConnections::count() const {
    const std::string command =
        in_router(std::string("nft list counter inet ") + kTable + " connections");
    std::FILE* out = popen(command.c_str(), "r");
    if (!out)
        die("cannot read the router's connection counter");
    long packets = -1;
    char word[256];
    while (std::fscanf(out, "%255s", word) == 1)
        if (std::string(word) == "packets" && std::fscanf(out, "%ld", &packets) != 1)
            packets = -1;
    pclose(out);
    if (packets < 0)
        die("the router's connection counter says nothing");
    return packets;
}

bool router_process_alive(const std::string& pid_file) {
    std::ifstream in(pid_file);
    long pid = 0;
    return in >> pid && pid > 0 && kill(static_cast<pid_t>(pid), 0) == 0;
}
