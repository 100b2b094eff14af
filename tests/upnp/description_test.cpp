#include "support.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kIgd[] = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";
const char kWan[] = "urn:schemas-upnp-org:device:WANDevice:1";
const char kConn[] = "urn:schemas-upnp-org:device:WANConnectionDevice:1";

std::string device(const std::string& type, const std::string& inner) {
    return "<device><deviceType>" + type + "</deviceType>" + inner + "</device>";
}

std::string service(const std::string& type, const std::string& control) {
    return "<service><serviceType>" + type + "</serviceType><controlURL>" + control +
           "</controlURL></service>";
}

// The device tree with `services` as the WAN connection device's service list.
std::string tree(const std::string& services, const std::string& before_device = "",
                 const std::string& gateway_extra = "") {
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">" +
           before_device +
           device(kIgd, gateway_extra + "<deviceList>" +
                            device(kWan, "<deviceList>" +
                                             device(kConn,
                                                    "<serviceList>" + services + "</serviceList>") +
                                             "</deviceList>") +
                            "</deviceList>") +
           "</root>";
}

class Description : public ::testing::Test {
  protected:
    UpnpNat nat;
    int peer = -1;

    Description() {
        nat.describe_url = "http://192.168.1.1:5000/rootDesc.xml";
        // The description request's connection, which the walk closes on every outcome.
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        nat.tcp_socket = fds[0];
        peer = fds[1];
    }
    ~Description() override { ::close(peer); }

    bool walk(const std::string& xml) {
        nat.description = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n" + xml;
        const int socket = nat.tcp_socket;
        const bool ok = nat.parse_description();
        EXPECT_EQ(nat.tcp_socket, -1);
        EXPECT_EQ(::fcntl(socket, F_GETFD), -1) << "connection left open";
        return ok;
    }
    void expect_failure(const std::string& xml, const std::string& text) {
        EXPECT_FALSE(walk(xml));
        EXPECT_EQ(nat.status, 8);
        EXPECT_EQ(nat.last_error, text);
    }
};

TEST_F(Description, SmallestWorkingTree) {
    ASSERT_TRUE(walk(tree(service(SERVICE_WANIP, "/ctl/IPConn"))));
    EXPECT_EQ(nat.status, 4);
    EXPECT_EQ(nat.service_type, SERVICE_WANIP);
    EXPECT_EQ(nat.base_URL, "http://192.168.1.1:5000");
    EXPECT_EQ(nat.control_url, "http://192.168.1.1:5000/ctl/IPConn");
    EXPECT_EQ(nat.friendly_name, "");
}

TEST_F(Description, UrlBaseWinsAndIsJoinedPlainly) {
    ASSERT_TRUE(walk(tree(service(SERVICE_WANIP, "/upnp/control/WANIPConn1"),
                          "<URLBase>http://192.168.1.1:80/</URLBase>")));
    EXPECT_EQ(nat.base_URL, "http://192.168.1.1:80/");
    EXPECT_EQ(nat.control_url, "http://192.168.1.1:80//upnp/control/WANIPConn1");
}

TEST_F(Description, AbsoluteControlUrlStays) {
    ASSERT_TRUE(walk(tree(service(SERVICE_WANIP, "http://10.0.0.1:2869/ctl"))));
    EXPECT_EQ(nat.control_url, "http://10.0.0.1:2869/ctl");
}

TEST_F(Description, CapitalSchemeCountsAsAbsoluteButMixedCaseDoesNot) {
    ASSERT_TRUE(walk(tree(service(SERVICE_WANIP, "HTTP://10.0.0.1:2869/ctl"))));
    EXPECT_EQ(nat.control_url, "HTTP://10.0.0.1:2869/ctl");
    nat.tcp_socket = -1;
    ASSERT_TRUE(walk(tree(service(SERVICE_WANIP, "Http://10.0.0.1:2869/ctl"))));
    EXPECT_EQ(nat.control_url, "http://192.168.1.1:5000Http://10.0.0.1:2869/ctl");
}

TEST_F(Description, FirstAcceptedServiceWinsWhateverItsKind) {
    ASSERT_TRUE(
        walk(tree(service("urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1", "/ctl/Cmn") +
                  service(SERVICE_WANPPP, "/ctl/PPP") + service(SERVICE_WANIP, "/ctl/IP"))));
    EXPECT_EQ(nat.service_type, SERVICE_WANPPP);
    EXPECT_EQ(nat.control_url, "http://192.168.1.1:5000/ctl/PPP");
}

TEST_F(Description, ServiceWithoutControlUrlIsPassedOver) {
    ASSERT_TRUE(walk(tree("<service><serviceType>" + std::string(SERVICE_WANIP) +
                          "</serviceType></service>" + service(SERVICE_WANPPP, "/ctl/PPP"))));
    EXPECT_EQ(nat.control_url, "http://192.168.1.1:5000/ctl/PPP");
}

TEST_F(Description, FriendlyNameIsTakenWhenPresentAndKeptOtherwise) {
    nat.friendly_name = "Earlier";
    ASSERT_TRUE(walk(tree(service(SERVICE_WANIP, "/c"))));
    EXPECT_EQ(nat.friendly_name, "Earlier");
}

TEST_F(Description, FriendlyNameDecoded) {
    ASSERT_TRUE(walk(tree(service(SERVICE_WANIP, "/c"), "",
                          "<friendlyName>Home &amp; Garden Router</friendlyName>")));
    EXPECT_EQ(nat.friendly_name, "Home & Garden Router");
}

TEST_F(Description, ElementNamesIgnoreCaseButTypesDoNot) {
    ASSERT_TRUE(walk(
        "<ROOT>" +
        device(kIgd,
               "<DEVICELIST>" +
                   device(kWan, "<devicelist>" +
                                    device(kConn, "<ServiceList>" + service(SERVICE_WANIP, "/c") +
                                                      "</ServiceList>") +
                                    "</devicelist>") +
                   "</DEVICELIST>") +
        "</ROOT>"));
    EXPECT_EQ(nat.control_url, "http://192.168.1.1:5000/c");
}

TEST_F(Description, EmptyDescriptionHasNoRoot) {
    expect_failure("", "The device descripe XML file is not a valid XML file. Cann't find root "
                       "element.\n");
}

TEST_F(Description, BrokenXmlHasNoRoot) {
    expect_failure("<root><device></wrong></root>",
                   "The device descripe XML file is not a valid XML file. Cann't find root "
                   "element.\n");
}

TEST_F(Description, NoBaseUrl) {
    nat.describe_url = "http://192.168.1.1:5000";
    expect_failure(tree(service(SERVICE_WANIP, "/c")),
                   "Fail to get base_URL from XMLNode \"URLBase\" or describe_url.\n");
}

TEST_F(Description, NoGatewayDevice) {
    expect_failure("<root>" + device("urn:schemas-upnp-org:device:InternetGatewayDevice:2", "") +
                       "</root>",
                   "Fail to find device \"urn:schemas-upnp-org:device:InternetGatewayDevice:1 "
                   "\"\n");
}

TEST_F(Description, GatewayTypeInOtherCase) {
    expect_failure("<root>" + device("urn:schemas-upnp-org:device:internetgatewaydevice:1", "") +
                       "</root>",
                   "Fail to find device \"urn:schemas-upnp-org:device:InternetGatewayDevice:1 "
                   "\"\n");
}

TEST_F(Description, GatewayWithoutDeviceList) {
    expect_failure("<root>" + device(kIgd, "") + "</root>",
                   " Fail to find deviceList of device "
                   "\"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n");
}

TEST_F(Description, NoWanDevice) {
    expect_failure("<root>" + device(kIgd, "<deviceList></deviceList>") + "</root>",
                   "Fail to find device \"urn:schemas-upnp-org:device:WANDevice:1 \"\n");
}

TEST_F(Description, WanDeviceWithoutDeviceList) {
    expect_failure("<root>" + device(kIgd, "<deviceList>" + device(kWan, "") + "</deviceList>") +
                       "</root>",
                   " Fail to find deviceList of device \"urn:schemas-upnp-org:device:WANDevice:1 "
                   "\"\n");
}

TEST_F(Description, NoWanConnectionDevice) {
    expect_failure(
        "<root>" + device(kIgd, "<deviceList>" + device(kWan, "<deviceList/>") + "</deviceList>") +
            "</root>",
        "Fail to find device \"urn:schemas-upnp-org:device:WANConnectionDevice:1\"\n");
}

TEST_F(Description, WanConnectionDeviceWithoutServiceList) {
    expect_failure(
        "<root>" +
            device(kIgd, "<deviceList>" +
                             device(kWan, "<deviceList>" + device(kConn, "") + "</deviceList>") +
                             "</deviceList>") +
            "</root>",
        " Fail to find serviceList of device "
        "\"urn:schemas-upnp-org:device:WANDevice:1 \"\n");
}

TEST_F(Description, NoAcceptedService) {
    expect_failure(tree(service("urn:schemas-upnp-org:service:WANIPConnection:2", "/c")),
                   "can't find  \" SERVICE_WANIP \" or \" SERVICE_WANPPP \" service.\n");
}

TEST_F(Description, OnlyTheFirstConnectionDeviceIsSearched) {
    const std::string xml =
        "<root>" +
        device(kIgd,
               "<deviceList>" +
                   device(kWan, "<deviceList>" +
                                    device(kConn, "<serviceList>" +
                                                      service("urn:x:service:Other:1", "/o") +
                                                      "</serviceList>") +
                                    device(kConn, "<serviceList>" + service(SERVICE_WANIP, "/ip") +
                                                      "</serviceList>") +
                                    "</deviceList>") +
                   "</deviceList>") +
        "</root>";
    expect_failure(xml, "can't find  \" SERVICE_WANIP \" or \" SERVICE_WANPPP \" service.\n");
}

TEST_F(Description, ControlUrlKeepsTheSearchResultsOfAnEarlierSearch) {
    nat.service_type = SERVICE_WANIP;
    nat.control_url = "http://10.0.0.1/old";
    expect_failure("<root/>", "Fail to find device "
                              "\"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n");
    EXPECT_EQ(nat.control_url, "http://10.0.0.1/old");
}

} // namespace
