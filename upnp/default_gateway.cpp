#include "default_gateway.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace upnp_detail {

std::string system_default_gateway() {
    // Linux lists its routes here: a default route has destination 0 and the gateway flag.
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line); // the column titles
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name;
        unsigned long destination = 0, gateway = 0, flags = 0;
        fields >> name >> std::hex >> destination >> gateway >> flags;
        if (!fields || destination != 0 || !(flags & 0x2))
            continue;
        in_addr address{};
        address.s_addr = static_cast<in_addr_t>(gateway); // already in network order
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address, text, sizeof text);
        return text;
    }
    return std::string();
}

} // namespace upnp_detail
