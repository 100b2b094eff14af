#include "support.h"

#include <random>

namespace {

// Whatever the router sends, every operation ends with a result, and a failure always comes
// with status 8 and a text ending in a line feed.
void expect_clean_failure(const UpnpNat& nat) {
    EXPECT_EQ(nat.status, 8);
    ASSERT_FALSE(nat.last_error.empty());
    EXPECT_EQ(nat.last_error.back(), '\n');
    EXPECT_EQ(nat.tcp_socket, -1);
}

class BadInput : public GatewayTest {
  protected:
    BadInput() {
        select_service();
        nat.timings.read_wait_ms = 200;
    }
    // An answer far larger than any router's, ending in the marker.
    static fakegw::Reply enormous() {
        return fakegw::http_ok(std::string(UpnpNat::kAnswerCap + 1, 'x') + "</s:Envelope>");
    }
};

TEST_F(BadInput, EnormousAnswerToEachAction) {
    gateway.script("AddPortMapping", enormous());
    gateway.script("DeletePortMapping", enormous());
    gateway.script("GetExternalIPAddress", enormous());
    gateway.script("GetGenericPortMappingEntry", enormous());

    testing::internal::CaptureStdout();
    EXPECT_FALSE(nat.add_port_mapping("web", "10.0.0.2", 80, 80, "TCP"));
    testing::internal::GetCapturedStdout();
    expect_clean_failure(nat);
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (web/TCP)\n");

    EXPECT_FALSE(nat.del_port_mapping(80, "TCP"));
    expect_clean_failure(nat);

    std::string address = "untouched";
    EXPECT_FALSE(nat.get_external_ip(address));
    expect_clean_failure(nat);
    EXPECT_EQ(address, "untouched");

    EXPECT_TRUE(nat.get_port_mappings());
    expect_clean_failure(nat);
    EXPECT_EQ(nat.last_error, "Totally 0 mapping entries.\n");
    EXPECT_TRUE(nat.last_response.empty());
}

TEST_F(BadInput, OddControlUrls) {
    const std::string port = std::to_string(gateway.http_port());
    for (const std::string& url :
         {std::string("http://127.0.0.1:") + port, std::string("http:/x"), std::string("://"),
          std::string("http://:80/x"), std::string("http://127.0.0.1:99999999999999999999/x"),
          std::string("http://[::1]:80/x"), std::string("http://a b/x"),
          std::string("http://127.0.0.1:-5/x")}) {
        nat.control_url = url;
        std::string address = "untouched";
        EXPECT_FALSE(nat.get_external_ip(address)) << url;
        expect_clean_failure(nat);
        EXPECT_EQ(address, "untouched");
    }
}

TEST_F(BadInput, ControlUrlPortBeyondSixteenBitsWrapsOntoTheGateway) {
    nat.control_url =
        "http://127.0.0.1:" + std::to_string(65536 + gateway.http_port()) + "/ctl/IPConn";
    std::string address;
    EXPECT_TRUE(nat.get_external_ip(address));
}

TEST_F(BadInput, GarbageAnswers) {
    std::mt19937 random(1234);
    const std::string alphabet = "<>/&;:\"' =?!-[]abcHTTP/1.1 200 OK\r\nEnvelope";
    for (int round = 0; round < 40; ++round) {
        std::string junk(static_cast<std::size_t>(random() % 3000), '\0');
        for (char& c : junk)
            c = alphabet[random() % alphabet.size()];
        gateway.script("GetExternalIPAddress", fakegw::http_ok(junk));
        std::string address;
        const bool ok = nat.get_external_ip(address);
        if (!ok)
            expect_clean_failure(nat);
    }
}

TEST_F(BadInput, BodyWithoutHeadersAndHeadersWithoutBody) {
    fakegw::Reply bare;
    bare.bytes = "<s:Envelope><s:Body><u:GetExternalIPAddressResponse><NewExternalIPAddress>1.2.3.4"
                 "</NewExternalIPAddress></u:GetExternalIPAddressResponse></s:Body></s:Envelope>";
    gateway.script("GetExternalIPAddress", bare);
    std::string address;
    EXPECT_FALSE(nat.get_external_ip(address)) << "no status line, no success";
    EXPECT_EQ(nat.last_error, "Fail to get router internet ip.\n");

    gateway.script("GetExternalIPAddress", fakegw::http_ok(""));
    EXPECT_FALSE(nat.get_external_ip(address));
    EXPECT_EQ(nat.last_error,
              "Fail to get mapping info from response data.(NO \"SOAP-ENV:Envelope\" node.)\n");
}

TEST_F(BadInput, DeeplyNestedAnswer) {
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    gateway.script("GetExternalIPAddress", fakegw::http_ok(deep));
    std::string address;
    EXPECT_FALSE(nat.get_external_ip(address));
    expect_clean_failure(nat);
}

TEST_F(BadInput, HugeDescriptionTextsAreKeptWhole) {
    const std::string name(50000, 'n');
    fakegw::DescriptionOptions options;
    options.friendly_name = name;
    gateway.set_description_text(fakegw::igd_description(options));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(nat.discovery());
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(nat.parse_description());
    EXPECT_EQ(nat.friendly_name, name);
}

TEST_F(BadInput, FaultWithoutDetailLeavesNoReason) {
    gateway.script("DeletePortMapping",
                   fakegw::http_status(500, "Internal Server Error",
                                       "<s:Envelope><s:Body><s:Fault><faultcode>s:Server"
                                       "</faultcode></s:Fault></s:Body></s:Envelope>"));
    EXPECT_FALSE(nat.del_port_mapping(1, "TCP"));
    EXPECT_EQ(nat.upnp_error_code, 0);
    EXPECT_EQ(nat.upnp_error_description, "");
    gateway.script("DeletePortMapping",
                   fakegw::http_status(500, "Internal Server Error",
                                       "<s:Envelope><s:Body><s:Fault><detail><UPnPError>"
                                       "<errorCode>abc</errorCode></UPnPError></detail>"
                                       "</s:Fault></s:Body></s:Envelope>"));
    EXPECT_FALSE(nat.del_port_mapping(1, "TCP"));
    EXPECT_EQ(nat.upnp_error_code, 0);
}

TEST(BadDescription, EveryFailureHasStatusAndText) {
    std::mt19937 random(99);
    const char* pieces[] = {"<root>",
                            "</root>",
                            "<device>",
                            "</device>",
                            "<deviceList>",
                            "</deviceList>",
                            "<serviceList>",
                            "<service>",
                            "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</"
                            "deviceType>",
                            "<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>",
                            "<serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</"
                            "serviceType>",
                            "<controlURL>/c</controlURL>",
                            "<URLBase>x</URLBase>",
                            "&amp;",
                            "<!--",
                            "-->",
                            "<?xml version=\"1.0\"?>",
                            "<![CDATA[",
                            "]]>",
                            "\"",
                            "'"};
    for (int round = 0; round < 300; ++round) {
        UpnpNat nat;
        nat.describe_url = "http://10.0.0.1/d.xml";
        for (int i = random() % 40; i > 0; --i)
            nat.description += pieces[random() % (sizeof pieces / sizeof *pieces)];
        if (!nat.parse_description()) {
            EXPECT_EQ(nat.status, 8);
            EXPECT_EQ(nat.last_error.back(), '\n');
        } else {
            EXPECT_EQ(nat.status, 4);
        }
    }
}

} // namespace
