// The texts read without any socket: URLs, verdicts, fault details, and the client's defaults.
#include "support.h"
#include "wire_text.h"

#include <vector>

namespace {

TEST(Client, DefaultsAreTheRoutersOwnAndInitTouchesOnlyStatusAndTries) {
    UpnpNat nat;
    EXPECT_EQ(nat.ssdp_address + ":" + std::to_string(nat.ssdp_port), "239.255.255.250:1900");
    EXPECT_EQ(nat.udp_socket, -1);
    EXPECT_EQ(nat.tcp_socket, -1);
    const UpnpTimings t;
    EXPECT_EQ(std::vector<int>({t.connect_timeout_ms, t.connect_pause_ms, t.read_wait_ms,
                                t.ssdp_wait_ms, t.ssdp_idle_ms}),
              std::vector<int>({1000, 1000, 1000, 5000, 1000}));

    nat.friendly_name = "Old";
    nat.last_error = "x\n";
    nat.status = 8;
    EXPECT_TRUE(nat.init(60));
    EXPECT_EQ(nat.status, 0);
    EXPECT_EQ(nat.connect_tries, 60);
    EXPECT_EQ(nat.friendly_name + nat.last_error, "Oldx\n");
}

TEST(ParseUrl, SplitsHostPortAndPath) {
    // The parts as "host port path"; empty when the URL is refused.
    const std::pair<const char*, const char*> cases[] = {
        {"http://192.168.1.1:5000/rootDesc.xml", "192.168.1.1 5000 /rootDesc.xml"},
        {"http://192.168.1.1/desc.xml", "192.168.1.1 80 /desc.xml"},
        {"http://10.0.0.1/", "10.0.0.1 80 /"},
        {"http://10.0.0.1:80/a?b=c#d", "10.0.0.1 80 /a?b=c#d"},
        {"ftp://10.0.0.1/x", "10.0.0.1 80 /x"},
        {"http://10.0.0.1/a:b", "10.0.0.1 80 /a:b"}, // a colon in the path is no port
        // The port is read like an integer and keeps its low sixteen bits (under UBSan: without
        // overflow, however long).
        {"http://10.0.0.1:49152abc/x", "10.0.0.1 49152 /x"},
        {"http://10.0.0.1:/x", "10.0.0.1 0 /x"},
        {"http://10.0.0.1: 8080/x", "10.0.0.1 8080 /x"},
        {"http://10.0.0.1:+81/x", "10.0.0.1 81 /x"},
        {"http://10.0.0.1:70000/x", "10.0.0.1 4464 /x"},
        {"http://10.0.0.1:65536/x", "10.0.0.1 0 /x"},
        {"http://10.0.0.1:-1/x", "10.0.0.1 65535 /x"},
        {"http://10.0.0.1:99999999999999999999999/x", "10.0.0.1 65535 /x"},
        {"http://192.168.1.1:5000", ""},
        {"http://192.168.1.1", ""},
        {"192.168.1.1:80/x", ""},
        {"", ""},
    };
    for (const auto& [url, parts] : cases) {
        std::string host, path;
        uint16_t port = 0;
        const bool ok = UpnpNat::parse_url(url, host, port, path);
        EXPECT_EQ(ok ? host + " " + std::to_string(port) + " " + path : "", parts) << url;
    }
    // The port that the URL left out is named in the SOAP header too.
    EXPECT_TRUE(contains(upnp_wire::soap_header("/c", "10.0.0.1", 80, SERVICE_WANIP, "X", 1),
                         "\r\nHOST: 10.0.0.1:80\r\n"));
}

TEST(Verdict, ComesFromTheStatusLineOnly) {
    const std::pair<const char*, bool> cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", true},
        {"HTTP/1.0 200 Fine\r\n", true},
        {"http/1.1 200\r\n", true},
        {"HTTP/1.1 200", true},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n200 OK", false},
        {"<html>200 OK</html>", false},
        {"HTTP/1.1 2000 OK\r\n", false},
        {"HTTP/1.1 201 Created\r\n", false},
        {"HTTP/ 200 OK\r\n", false},
        {"HTTP/1.1\r\n200 OK", false},
        {"", false},
        {" HTTP/1.1 200 OK", false},
    };
    for (const auto& [answer, verdict] : cases)
        EXPECT_EQ(upnp_wire::http_status_is_200(answer), verdict) << answer;
}

TEST(UpnpError, CodeAndDescriptionOfAFault) {
    int code = 0;
    std::string text;
    ASSERT_TRUE(upnp_wire::upnp_error_of(fakegw::soap_fault(718, "ConflictInMappingEntry").bytes,
                                         code, text));
    EXPECT_EQ(code, 718);
    EXPECT_EQ(text, "ConflictInMappingEntry");
    // Without a numeric UPnPError code there is no reason, and nothing is touched.
    const std::string fault = "HTTP/1.1 500 Internal Server Error\r\n\r\n<s:Envelope><s:Body>"
                              "<s:Fault><faultcode>s:Server</faultcode>";
    for (const std::string& answer :
         {std::string(), std::string("HTTP/1.1 500 Oops\r\n\r\n<html/>"),
          fault + "</s:Fault></s:Body></s:Envelope>",
          fault + "<detail><UPnPError><errorCode>abc</errorCode></UPnPError></detail></s:Fault>"
                  "</s:Body></s:Envelope>"}) {
        EXPECT_FALSE(upnp_wire::upnp_error_of(answer, code, text)) << answer;
        EXPECT_EQ(code, 718);
        EXPECT_EQ(text, "ConflictInMappingEntry");
    }
}

} // namespace
