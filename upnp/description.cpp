#include "UpnpNat.h"
#include "wire_text.h"

#include "xmlParser.h"

namespace {

// Each level of the device tree in the versions the client drives.
const char* const kGatewayTypes[] = {upnp_wire::kGatewayDeviceType, upnp_wire::kGatewayDeviceType2,
                                     nullptr};
const char* const kWanDeviceTypes[] = {"urn:schemas-upnp-org:device:WANDevice:1",
                                       "urn:schemas-upnp-org:device:WANDevice:2", nullptr};
const char* const kWanConnectionDeviceTypes[] = {
    "urn:schemas-upnp-org:device:WANConnectionDevice:1",
    "urn:schemas-upnp-org:device:WANConnectionDevice:2", nullptr};
const char* const kServiceTypes[] = {SERVICE_WANIP, SERVICE_WANIP2, SERVICE_WANPPP, nullptr};

bool is_one_of(const std::string* text, const char* const* types) {
    for (; text != nullptr && *types != nullptr; ++types)
        if (*text == *types)
            return true;
    return false;
}

// The first "device" child of `parent` whose first deviceType reads one of `types` exactly.
XMLNode device_of_type(const XMLNode& parent, const char* const* types) {
    const int count = CountChildrenNamed(parent, "device");
    // The i-th match, found by carrying the position on rather than counting again from the
    // first child each time: a description with a huge device list stays linear.
    int position = 0;
    for (int i = 0; i < count; ++i) {
        const XMLNode device = FindChildNamed(parent, "device", &position);
        if (is_one_of(TextAt(ChildNamedAt(device, "deviceType", 0), 0), types))
            return device;
    }
    return XMLNode();
}

} // namespace

bool UpnpNat::parse_description() {
    const auto failed = [this](const char* text) {
        close_tcp();
        return fail(text, Failure::bad_answer);
    };

    const XMLNode root = ParseXMLText(description, "root");
    if (IsEmptyNode(root))
        return failed("The device descripe XML file is not a valid XML file. Cann't find root "
                      "element.\n");

    // Everything is taken only once the whole walk has succeeded, so that a description that
    // fails leaves the result of an earlier one as it was.
    std::string base;
    const std::string* url_base = TextAt(ChildNamedAt(root, "URLBase", 0), 0);
    if (url_base != nullptr) {
        base = *url_base;
    } else {
        const std::size_t slash =
            describe_url.size() > 7 ? describe_url.find('/', 7) : std::string::npos;
        if (slash == std::string::npos)
            return failed("Fail to get base_URL from XMLNode \"URLBase\" or describe_url.\n");
        base = describe_url.substr(0, slash);
    }

    const XMLNode gateway = device_of_type(root, kGatewayTypes);
    if (IsEmptyNode(gateway))
        return failed("Fail to find device "
                      "\"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n");
    const std::string* name = TextAt(ChildNamedAt(gateway, "friendlyName", 0), 0);

    const XMLNode gateway_list = ChildNamedAt(gateway, "deviceList", 0);
    if (IsEmptyNode(gateway_list))
        return failed(" Fail to find deviceList of device "
                      "\"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n");
    const XMLNode wan = device_of_type(gateway_list, kWanDeviceTypes);
    if (IsEmptyNode(wan))
        return failed("Fail to find device \"urn:schemas-upnp-org:device:WANDevice:1 \"\n");
    const XMLNode wan_list = ChildNamedAt(wan, "deviceList", 0);
    if (IsEmptyNode(wan_list))
        return failed(" Fail to find deviceList of device "
                      "\"urn:schemas-upnp-org:device:WANDevice:1 \"\n");
    const XMLNode connection = device_of_type(wan_list, kWanConnectionDeviceTypes);
    if (IsEmptyNode(connection))
        return failed(
            "Fail to find device \"urn:schemas-upnp-org:device:WANConnectionDevice:1\"\n");
    const XMLNode services = ChildNamedAt(connection, "serviceList", 0);
    if (IsEmptyNode(services))
        return failed(" Fail to find serviceList of device "
                      "\"urn:schemas-upnp-org:device:WANDevice:1 \"\n");

    int position = 0;
    for (;;) {
        const XMLNode service = FindChildNamed(services, "service", &position);
        if (IsEmptyNode(service))
            break;
        const std::string* type = TextAt(FindChildNamed(service, "serviceType"), 0);
        if (!is_one_of(type, kServiceTypes))
            continue;
        // A service without a control URL cannot be driven; a later one of the right type may.
        const std::string* control = TextAt(FindChildNamed(service, "controlURL"), 0);
        if (control == nullptr || control->empty())
            continue;
        service_type = *type;
        control_url = *control;
        if (control_url.find("http://") == std::string::npos &&
            control_url.find("HTTP://") == std::string::npos)
            control_url = base + control_url;
        base_URL = base;
        if (name != nullptr)
            friendly_name = *name;
        const std::string gateway_type = TextAtOrEmpty(ChildNamedAt(gateway, "deviceType", 0), 0);
        igd_version = gateway_type == upnp_wire::kGatewayDeviceType2 ? 2 : 1;
        close_tcp();
        return succeed(STATUS_SERVICE_SELECTED);
    }
    return failed("can't find  \" SERVICE_WANIP \" or \" SERVICE_WANPPP \" service.\n");
}
