#include "UpnpNat.h"
#include "wire/answer_walk.h"
#include "wire/wire_text.h"

#include "xmlFlatDocument.h"

#include <algorithm>
#include <arpa/inet.h>
#include <optional>

namespace {

// Each level of the device tree in the versions the client drives.
const char* const kGatewayTypes[] = {upnp_wire::kGatewayDeviceType, upnp_wire::kGatewayDeviceType2,
                                     nullptr};
const char* const kWanDeviceTypes[] = {"urn:schemas-upnp-org:device:WANDevice:1",
                                       "urn:schemas-upnp-org:device:WANDevice:2", nullptr};
const char* const kWanConnectionDeviceTypes[] = {
    "urn:schemas-upnp-org:device:WANConnectionDevice:1",
    "urn:schemas-upnp-org:device:WANConnectionDevice:2", nullptr};
// In the order they are preferred: the version 2 service offers more, and a router that has
// both an IP and a PPP connection forwards ports on the IP one.
const char* const kServiceTypes[] = {SERVICE_WANIP2, SERVICE_WANIP, SERVICE_WANPPP, nullptr};

// Why a walk stopped, deepest level last: the message names the furthest level reached.
const char* const kWalkFailures[] = {
    "Fail to find device \"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n",
    " Fail to find deviceList of device "
    "\"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n",
    "Fail to find device \"urn:schemas-upnp-org:device:WANDevice:1 \"\n",
    " Fail to find deviceList of device \"urn:schemas-upnp-org:device:WANDevice:1 \"\n",
    "Fail to find device \"urn:schemas-upnp-org:device:WANConnectionDevice:1\"\n",
    " Fail to find serviceList of device \"urn:schemas-upnp-org:device:WANDevice:1 \"\n",
    "can't find  \" SERVICE_WANIP \" or \" SERVICE_WANPPP \" service.\n",
};

using Element = XMLFlatDocument::Element;
constexpr Element kNone = XMLFlatDocument::kNone;

int rank_of(const std::optional<std::string>& text, const char* const* types) {
    for (int rank = 0; text && types[rank] != nullptr; ++rank)
        if (*text == types[rank])
            return rank;
    return -1;
}

// Every "device" child of `parent` whose first deviceType reads one of `types` exactly.
std::vector<Element> devices_of_type(const XMLFlatDocument& xml, Element parent,
                                     const char* const* types) {
    std::vector<Element> found;
    // Carrying the position on rather than counting again from the first child each time keeps
    // a description with a huge device list linear.
    for (Element device = kNone; (device = xml.FindChildNamed(parent, "device", device)) != kNone;)
        if (rank_of(xml.TextAt(xml.FindChildNamed(device, "deviceType"), 0), types) >= 0)
            found.push_back(device);
    return found;
}

// The host of a control URL must be a numeric address: a name is never looked up.
bool usable_control_url(const std::string& url, std::string& why) {
    upnp_http::Url parts;
    if (!upnp_http::split_url(url, parts, &why))
        return false;
    unsigned char address[16];
    if (::inet_pton(parts.ipv6 ? AF_INET6 : AF_INET, parts.host.c_str(), address) == 1)
        return true;
    why = "its host is no numeric address";
    return false;
}

// A WAN connection service the description offers, with its place in kServiceTypes.
struct Offered {
    int rank;
    std::string type;
    std::string control_url;
};

// Every WAN connection service under the gateway device, in the order they are preferred, and
// how far the walk got where there is none.
struct Services {
    std::vector<Offered> found;
    std::string unusable; // a control address that cannot be used, and why
    std::string firewall; // the IPv6 firewall's control URL; empty: none
    int reached = 1;      // the deepest level of kWalkFailures reached
};

void take_service(const XMLFlatDocument& xml, Element service, const std::string& base,
                  Services& walk) {
    const std::optional<std::string> type =
        xml.TextAt(xml.FindChildNamed(service, "serviceType"), 0);
    const int rank = rank_of(type, kServiceTypes);
    const bool is_firewall = type && *type == SERVICE_WANIP6FC;
    // A service without a control URL cannot be driven; another of the right type may.
    const std::optional<std::string> control =
        xml.TextAt(xml.FindChildNamed(service, "controlURL"), 0);
    if ((rank < 0 && !is_firewall) || !control || control->empty())
        return;
    const std::string url = upnp_http::resolve(base, *control);
    std::string why;
    if (is_firewall) {
        if (walk.firewall.empty() && usable_control_url(url, why))
            walk.firewall = url;
    } else if (!usable_control_url(url, why)) {
        walk.unusable = url + " (" + why + ")";
    } else {
        walk.found.push_back({rank, *type, url});
    }
}

// A router may offer several WAN devices and connection devices (a PPP one that is not connected
// beside the IP one that is): all of them are searched.
Services services_of(const XMLFlatDocument& xml, Element gateway, const std::string& base) {
    Services walk;
    const Element gateway_list = xml.FindChildNamed(gateway, "deviceList");
    for (const Element wan : devices_of_type(xml, gateway_list, kWanDeviceTypes)) {
        walk.reached = std::max(walk.reached, 3);
        const Element wan_list = xml.FindChildNamed(wan, "deviceList");
        if (wan_list == kNone)
            continue;
        walk.reached = std::max(walk.reached, 4);
        for (const Element connection : devices_of_type(xml, wan_list, kWanConnectionDeviceTypes)) {
            walk.reached = std::max(walk.reached, 5);
            const Element services = xml.FindChildNamed(connection, "serviceList");
            if (services == kNone)
                continue;
            walk.reached = std::max(walk.reached, 6);
            for (Element service = kNone;
                 (service = xml.FindChildNamed(services, "service", service)) != kNone;)
                take_service(xml, service, base, walk);
        }
    }
    if (gateway_list == kNone)
        walk.reached = 1;
    else if (walk.reached == 1)
        walk.reached = 2;
    std::stable_sort(walk.found.begin(), walk.found.end(),
                     [](const Offered& a, const Offered& b) { return a.rank < b.rank; });
    return walk;
}

} // namespace

bool UpnpNat::parse_description() {
    const auto failed = [this](const std::string& text) {
        close_tcp();
        return fail(text, Failure::bad_answer);
    };

    // Read flat: the walk looks at a few elements once, and needs no tree of them.
    const XMLFlatDocument xml(description, "root");
    const Element root = xml.Found();
    if (root == kNone)
        return failed("The device descripe XML file is not a valid XML file. Cann't find root "
                      "element.\n");

    // Everything is taken only once the whole walk has succeeded, so that a description that
    // fails leaves the result of an earlier one as it was.
    std::string base;
    std::string resolve_from = describe_url;
    const std::optional<std::string> url_base = xml.TextAt(xml.FindChildNamed(root, "URLBase"), 0);
    if (url_base) {
        base = *url_base;
        resolve_from = upnp_http::resolve(describe_url, *url_base);
    } else {
        const std::size_t slash =
            describe_url.size() > 7 ? describe_url.find('/', 7) : std::string::npos;
        if (slash == std::string::npos)
            return failed("Fail to get base_URL from XMLNode \"URLBase\" or describe_url.\n");
        base = describe_url.substr(0, slash);
    }

    const std::vector<Element> gateways = devices_of_type(xml, root, kGatewayTypes);
    if (gateways.empty())
        return failed(kWalkFailures[0]);
    const Element gateway = gateways.front();
    const std::optional<std::string> name =
        xml.TextAt(xml.FindChildNamed(gateway, "friendlyName"), 0);
    const std::optional<std::string> device_udn = xml.TextAt(xml.FindChildNamed(gateway, "UDN"), 0);

    const Services walk = services_of(xml, gateway, resolve_from);
    const std::vector<Offered>& found = walk.found;
    if (found.empty() && !walk.unusable.empty())
        return failed("the router's description names a control address QuayMap cannot use: " +
                      walk.unusable + "\n");
    if (found.empty())
        return failed(kWalkFailures[walk.reached]);
    services_.clear();
    for (const Offered& f : found)
        services_.push_back({f.type, f.control_url});
    service_type = services_.front().type;
    control_url = services_.front().control_url;
    firewall_control_url = walk.firewall;
    base_URL = base;
    if (name)
        friendly_name = *name;
    udn = device_udn ? *device_udn : std::string();
    const std::string gateway_type =
        xml.TextAtOrEmpty(xml.FindChildNamed(gateway, "deviceType"), 0);
    igd_version = gateway_type == upnp_wire::kGatewayDeviceType2 ? 2 : 1;
    close_tcp();
    return succeed(STATUS_SERVICE_SELECTED);
}

void UpnpNat::prefer_connected_service(upnp_http::Clock::time_point deadline) {
    if (services_.size() < 2)
        return;
    for (const WanService& service : services_) {
        upnp_http::Url to;
        std::string answer;
        if (!upnp_http::split_url(service.control_url, to) ||
            !call(to, service.type, "GetStatusInfo", "", 10, answer, deadline))
            continue;
        upnp_detail::AnswerWalk walk = read_answer(answer, "GetStatusInfo");
        if (walk.verdict() != Failure::none)
            continue;
        if (walk.argument("NewConnectionStatus") == "Connected") {
            service_type = service.type;
            control_url = service.control_url;
            break;
        }
    }
    close_tcp();
    succeed(STATUS_SERVICE_SELECTED);
}
