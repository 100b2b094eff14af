#include "router_floor.h"

#include "UpnpNat.h"
#include "raw_exchange.h"

#include <cstdlib>

namespace {

// A larger table in one page would crash the lab's miniupnpd: QuayMap looks at this index
// before it reads by pages.
constexpr int kPagedTableLimit = 128;
constexpr size_t kPage = 1000; // what QuayMap asks for per page

struct Control {
    std::string host, path, service;
    uint16_t port = 0;
};

// One SOAP exchange added to the floor; false when the router could not be had.
bool timed(Floor& floor, const Control& to, const std::string& action, const std::string& arguments,
           std::string& answer) {
    double ms = 0;
    if (!raw_exchange(to.host, to.port,
                      soap_request(to.host, to.port, to.path, to.service, action, arguments),
                      answer, ms))
        return false;
    floor.ms += ms;
    ++floor.exchanges;
    return true;
}

std::string index_arguments(int index) {
    return "<NewPortMappingIndex>" + std::to_string(index) + "</NewPortMappingIndex>";
}

// The highest external port of a full page: the next page starts past it, as QuayMap's does.
uint32_t after_last_port(const std::string& answer) {
    const size_t last = answer.rfind("NewExternalPort");
    const size_t open = answer.rfind("NewExternalPort", last - 1);
    const size_t digits = answer.find_first_of("0123456789", open);
    return static_cast<uint32_t>(std::atoi(answer.c_str() + digits)) + 1;
}

bool pages(Floor& floor, const Control& to) {
    std::string answer;
    for (const char* protocol : {"TCP", "UDP"}) {
        for (uint32_t start = 1;;) {
            const std::string args = "<NewStartPort>" + std::to_string(start) +
                                     "</NewStartPort><NewEndPort>65535</NewEndPort><NewProtocol>" +
                                     protocol +
                                     "</NewProtocol><NewManage>1</NewManage><NewNumberOfPorts>" +
                                     std::to_string(kPage) + "</NewNumberOfPorts>";
            if (!timed(floor, to, "GetListOfPortMappings", args, answer))
                return false;
            if (!status_200(answer))
                break; // 730: nothing in this range
            // Escaped or not, each entry names its external port once.
            const size_t page = occurrences(answer, "NewExternalPort") / 2;
            floor.entries += page;
            if (page < kPage)
                break;
            start = after_last_port(answer);
        }
    }
    return true;
}

bool walk(Floor& floor, const Control& to) {
    std::string answer;
    for (int index = 0; index < UpnpNat::kIndexCap; ++index) {
        if (!timed(floor, to, "GetGenericPortMappingEntry", index_arguments(index), answer))
            return false;
        if (!status_200(answer))
            return true; // the refusal that ends the table
        ++floor.entries;
    }
    return true;
}

bool description(Floor& floor, const std::string& url) {
    std::string host, path, answer;
    uint16_t port = 0;
    double ms = 0;
    if (!UpnpNat::parse_url(url, host, port, path))
        return false;
    const std::string get = "GET " + path + " HTTP/1.1\r\nHost: " + host + ":" +
                            std::to_string(port) + "\r\nConnection: close\r\n\r\n";
    if (!raw_exchange(host, port, get, answer, ms))
        return false;
    floor.ms += ms;
    floor.description_ms = ms;
    ++floor.exchanges;
    return true;
}

} // namespace

Floor router_floor(const FloorPlan& plan) {
    Floor out;
    if (plan.search) {
        if (!ssdp_round_trip(out.ssdp_ms))
            return out;
        out.ms += out.ssdp_ms;
        ++out.exchanges;
    }
    Control to;
    to.service = plan.service;
    if (!description(out, plan.desc_url) ||
        !UpnpNat::parse_url(plan.control_url, to.host, to.port, to.path))
        return out;
    bool paged = plan.v2;
    if (paged) {
        std::string answer;
        if (!timed(out, to, "GetGenericPortMappingEntry", index_arguments(kPagedTableLimit),
                   answer))
            return out;
        paged = !status_200(answer);
    }
    out.ok = paged ? pages(out, to) : walk(out, to);
    return out;
}
