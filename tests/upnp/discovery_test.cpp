#include "support.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

using fakegw::Datagram;
using fakegw::ssdp_answer;

class Discovery : public GatewayTest {
  protected:
    bool discover() {
        return quietly([this] { return nat.discovery(); });
    }
    void answer_with(const std::vector<std::string>& answers) {
        std::vector<Datagram> datagrams;
        for (const auto& a : answers)
            datagrams.push_back(Datagram{a, 0});
        gateway.set_ssdp_answers(datagrams);
    }
    void expect_not_found() {
        nat.timings.read_wait_ms = 10;
        nat.timings.ssdp_wait_ms = 10;
        EXPECT_FALSE(discover());
        EXPECT_EQ(nat.status, 8);
        EXPECT_EQ(nat.last_error, "Fail to find an UPNP NAT.\n");
        EXPECT_EQ(nat.udp_socket, -1);
        EXPECT_EQ(nat.tcp_socket, -1);
    }
};

TEST_F(Discovery, SearchesOnceFetchesTheDescriptionAndPrintsItsProgress) {
    ASSERT_TRUE(discover());
    const auto searches = gateway.ssdp_requests();
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(searches[0], "M-SEARCH * HTTP/1.1\r\n"
                           "HOST:239.255.255.250:1900\r\n"
                           "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                           "Man:\"ssdp:discover\"\r\n"
                           "MX:3\r\n"
                           "\r\n");
    EXPECT_EQ(searches[0].size(), 133u);
    const std::string port = std::to_string(gateway.http_port());
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw,
              "GET /rootDesc.xml HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n\r\n");

    EXPECT_EQ(nat.status, 1);
    EXPECT_EQ(nat.describe_url, gateway.description_url());
    EXPECT_EQ(nat.description, fakegw::http_ok(fakegw::igd_description()).bytes);
    EXPECT_EQ(nat.udp_socket, -1);
    EXPECT_GE(nat.tcp_socket, 0); // closed by the description walk
    EXPECT_TRUE(nat.parse_description());
    EXPECT_EQ(nat.tcp_socket, -1);

    const std::string answer = ssdp_answer(gateway.description_url());
    const std::string head = "22222222 find router\nrecvfrom ret is " +
                             std::to_string(answer.size()) + "\ndiscovery:" + answer +
                             "\nbefore get descripton.....\n"
                             "get_description:describe_url[" +
                             gateway.description_url() + "],host[127.0.0.1],port[" + port +
                             "],path[/rootDesc.xml]\nconnect to router 1111111\n"
                             "111111111111111111\nthe buff is ";
    EXPECT_EQ(printed.substr(0, head.size()), head);
    EXPECT_TRUE(
        contains(printed, "\nresponse is " + nat.description + "\nget description ok xxxxxx\n"));
}

TEST_F(Discovery, DescriptionUrlComesFromTheLocationHeader) {
    const std::string url = gateway.description_url();
    const std::string port = std::to_string(gateway.http_port());
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const std::pair<std::string, bool> cases[] = {
        // LOCATION wins over an earlier URL, whatever the case of its name.
        {ok +
             "OPT: \"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n01-NLS: 1\r\n"
             "LOCATION: " +
             url + "\r\n\r\n",
         true},
        {ok + "X-Other: http://127.0.0.1:1/elsewhere\r\nlocation:" + url + "  \r\n\r\n", true},
        {ok + "LoCaTiOn :\t" + url + "\r\n\r\n", true},
        // Without a LOCATION, or with an empty one, the first URL is taken.
        {ok + "X-Where: " + url + "\r\n\r\n", true},
        {ok + "LOCATION:\r\nAL: " + url + "\r\n\r\n", true},
        {"NOTIFY * HTTP/1.1\r\nX-Status: 200 OK\r\nLOCATION: " + url + "\r\n\r\n", true},
        {"HTTP/1.1 404 Not Found\r\nLOCATION: " + url + "\r\n\r\n", false},
        {"HTTP/1.1 200 OK\nLOCATION: " + url + "\n\n", false}, // bare line feeds
        {ok + "LOCATION: " + url, false},
        {ok + "X-Where: HTTP://127.0.0.1:" + port + "/rootDesc.xml\r\n\r\n", false},
        {ok + "LOCATION: http://127.0.0.1:" + port + "\r\n\r\n", false}, // no path
    };
    for (const auto& [answer, found] : cases) {
        SCOPED_TRACE(answer);
        answer_with({answer});
        gateway.clear_records();
        if (found) {
            nat.timings = quick_timings();
            nat.describe_url.clear();
            EXPECT_TRUE(discover());
            EXPECT_EQ(nat.describe_url, url);
            EXPECT_TRUE(nat.parse_description()); // and closes the connection
        } else {
            expect_not_found();
            EXPECT_TRUE(gateway.requests().empty());
        }
    }
    EXPECT_TRUE(contains(printed, "inner get_description error\n"));
}

TEST_F(Discovery, SilentNetworkGetsOneSearchAndSixPasses) {
    answer_with({});
    expect_not_found();
    EXPECT_EQ(count_of(printed, "recvfrom ret is -1\nccccccccccccccc sleep\n"), 6u);
    EXPECT_EQ(gateway.ssdp_requests().size(), 1u);
}

TEST_F(Discovery, LateAnswerIsHeardWithinItsPass) {
    gateway.set_ssdp_answers({Datagram{ssdp_answer(gateway.description_url()), 100}});
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.status, 1);
}

TEST_F(Discovery, FirstUsableOfTwoGatewaysWins) {
    fakegw::FakeGateway other;
    answer_with({ssdp_answer(other.description_url()), ssdp_answer(gateway.description_url())});
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, other.description_url());
    EXPECT_TRUE(gateway.requests().empty());
    // Another kind of device is passed over, and so is one that no longer answers.
    const std::string media_server =
        "<root><device><deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>"
        "</device></root>";
    other.set_description_text(media_server);
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, gateway.description_url());
    EXPECT_EQ(other.requests().size(), 2u);
    other.stop_http();
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, gateway.description_url());
    gateway.set_description_text(media_server);
    expect_not_found();
}

TEST_F(Discovery, DescriptionSplitAcrossManyWritesIsReadWhole) {
    const fakegw::Reply whole = fakegw::http_ok(fakegw::igd_description());
    gateway.set_description(fakegw::split_inside(fakegw::split(whole, 7, 2), "</root>", 20));
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.description, whole.bytes);
    // An end tag in capitals is no marker: the read goes on until the gateway hangs up.
    std::string capitals = fakegw::igd_description();
    capitals.replace(capitals.find("</root>"), 7, "</ROOT>");
    gateway.set_description_text(capitals);
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.description, fakegw::http_ok(capitals).bytes);
}

TEST_F(Discovery, GetDescriptionRefusesAnUnsplittableUrl) {
    nat.describe_url = "http://10.0.0.1:5000";
    EXPECT_FALSE(quietly([this] { return nat.get_description(); }));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Failed to parseURl: http://10.0.0.1:5000\n");
}

const char kIgd[] = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";
const char kWan[] = "urn:schemas-upnp-org:device:WANDevice:1";
const char kConn[] = "urn:schemas-upnp-org:device:WANConnectionDevice:1";

std::string device(const std::string& type, const std::string& inner,
                   const std::string& list = "deviceList", const std::string& extra = "") {
    return "<device><deviceType>" + type + "</deviceType>" + extra + "<" + list + ">" + inner +
           "</" + list + "></device>";
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
           device(kIgd, device(kWan, device(kConn, services, "serviceList")), "deviceList",
                  gateway_extra) +
           "</root>";
}

class Description : public ::testing::Test {
  protected:
    UpnpNat nat;

    // Walks `xml` as the answer to a description request, whose connection the walk closes on
    // every outcome.
    bool walk(const std::string& xml, const std::string& url) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        nat.tcp_socket = fds[0];
        nat.describe_url = url;
        nat.description = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n" + xml;
        const bool ok = nat.parse_description();
        EXPECT_EQ(nat.tcp_socket, -1);
        char byte;
        EXPECT_EQ(::recv(fds[1], &byte, 1, MSG_DONTWAIT), 0) << "connection left open";
        ::close(fds[1]);
        return ok;
    }
};

TEST_F(Description, FindsTheFirstDrivableConnectionService) {
    const std::string url = "http://192.168.1.1:5000/rootDesc.xml";
    const std::string base = "http://192.168.1.1:5000";
    const std::string ip = SERVICE_WANIP;
    struct Case {
        std::string xml;
        std::string control_url;
        std::string service_type;
        std::string friendly_name = "Earlier"; // kept when the gateway names none
    };
    const Case cases[] = {
        {tree(service(ip, "/ctl/IPConn")), base + "/ctl/IPConn", ip},
        // URLBase wins and is joined plainly.
        {tree(service(ip, "/upnp/control/WANIPConn1"), "<URLBase>http://192.168.1.1:80/</URLBase>"),
         "http://192.168.1.1:80//upnp/control/WANIPConn1", ip},
        // Only "http://" in small or capital letters makes an absolute control URL.
        {tree(service(ip, "http://10.0.0.1:2869/ctl")), "http://10.0.0.1:2869/ctl", ip},
        {tree(service(ip, "HTTP://10.0.0.1:2869/ctl")), "HTTP://10.0.0.1:2869/ctl", ip},
        {tree(service(ip, "Http://10.0.0.1:2869/ctl")), base + "Http://10.0.0.1:2869/ctl", ip},
        // Other services and a service without control URL are passed over.
        {tree(service("urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1", "/ctl/Cmn") +
              "<service><serviceType>" + ip + "</serviceType></service>" +
              service(SERVICE_WANPPP, "/ctl/PPP") + service(ip, "/ctl/IP")),
         base + "/ctl/PPP", SERVICE_WANPPP},
        {tree(service(ip, "/c"), "", "<friendlyName>Home &amp; Garden Router</friendlyName>"),
         base + "/c", ip, "Home & Garden Router"},
        // Element names in any case; the types must match exactly.
        {"<ROOT>" +
             device(kIgd,
                    device(kWan, device(kConn, service(ip, "/c"), "ServiceList"), "devicelist"),
                    "DEVICELIST") +
             "</ROOT>",
         base + "/c", ip},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        nat.friendly_name = "Earlier";
        ASSERT_TRUE(walk(c.xml, url));
        EXPECT_EQ(nat.status, 4);
        EXPECT_EQ(nat.control_url, c.control_url);
        EXPECT_EQ(nat.service_type, c.service_type);
        EXPECT_EQ(nat.friendly_name, c.friendly_name);
    }
}

TEST_F(Description, EachMissingPartHasItsText) {
    const std::string no_root = "The device descripe XML file is not a valid XML file. Cann't "
                                "find root element.\n";
    const std::string no_igd =
        "Fail to find device \"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n";
    const std::string no_service =
        "can't find  \" SERVICE_WANIP \" or \" SERVICE_WANPPP \" service.\n";
    const auto bare = [](const std::string& type) {
        return "<device><deviceType>" + type + "</deviceType></device>";
    };
    struct Case {
        std::string xml;
        std::string error;
        std::string url = "http://192.168.1.1:5000/rootDesc.xml";
    };
    const Case cases[] = {
        {"", no_root},
        {"<root><device></wrong></root>", no_root},
        {tree(service(SERVICE_WANIP, "/c")),
         "Fail to get base_URL from XMLNode \"URLBase\" or describe_url.\n",
         "http://192.168.1.1:5000"},
        {"<root/>", no_igd},
        {"<root>" + bare("urn:schemas-upnp-org:device:InternetGatewayDevice:2") + "</root>",
         no_igd},
        {"<root>" + bare("urn:schemas-upnp-org:device:internetgatewaydevice:1") + "</root>",
         no_igd},
        {"<root>" + bare(kIgd) + "</root>",
         " Fail to find deviceList of device "
         "\"urn:schemas-upnp-org:device:InternetGatewayDevice:1 \"\n"},
        {"<root>" + device(kIgd, "") + "</root>",
         "Fail to find device \"urn:schemas-upnp-org:device:WANDevice:1 \"\n"},
        {"<root>" + device(kIgd, bare(kWan)) + "</root>",
         " Fail to find deviceList of device \"urn:schemas-upnp-org:device:WANDevice:1 \"\n"},
        {"<root>" + device(kIgd, device(kWan, "")) + "</root>",
         "Fail to find device \"urn:schemas-upnp-org:device:WANConnectionDevice:1\"\n"},
        {"<root>" + device(kIgd, device(kWan, bare(kConn))) + "</root>",
         " Fail to find serviceList of device \"urn:schemas-upnp-org:device:WANDevice:1 \"\n"},
        {tree(service("urn:schemas-upnp-org:service:WANIPConnection:2", "/c")), no_service},
        // Only the first connection device is searched.
        {"<root>" +
             device(
                 kIgd,
                 device(kWan, device(kConn, service("urn:x:service:Other:1", "/o"), "serviceList") +
                                  device(kConn, service(SERVICE_WANIP, "/ip"), "serviceList"))) +
             "</root>",
         no_service},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        nat.control_url = "http://10.0.0.1/old"; // an earlier search's result stays
        EXPECT_FALSE(walk(c.xml, c.url));
        EXPECT_EQ(nat.status, 8);
        EXPECT_EQ(nat.last_error, c.error);
        EXPECT_EQ(nat.control_url, "http://10.0.0.1/old");
    }
}

} // namespace
