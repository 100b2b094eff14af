// Whatever the router sends, every operation ends with a result, and a failure always comes
// with status 8 and a text ending in a line feed.
#include "support.h"

#include <random>

namespace {

void expect_clean_failure(const UpnpNat& nat) {
    EXPECT_EQ(nat.status, 8);
    ASSERT_FALSE(nat.last_error.empty());
    EXPECT_EQ(nat.last_error.back(), '\n');
    EXPECT_EQ(nat.tcp_socket, -1);
}

class BadInput : public GatewayTest {
  protected:
    BadInput() { nat.timings.read_wait_ms = 200; }
};

TEST_F(BadInput, EnormousAnswerToEachAction) {
    const fakegw::Reply enormous =
        fakegw::http_ok(std::string(UpnpNat::kAnswerCap + 1, 'x') + "</s:Envelope>");
    for (const char* action : {"AddPortMapping", "DeletePortMapping", "GetExternalIPAddress",
                               "GetGenericPortMappingEntry"})
        gateway.script(action, enormous);

    printed_by([&] { EXPECT_FALSE(nat.add_port_mapping("web", "10.0.0.2", 80, 80, "TCP")); });
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
    for (const std::string& url :
         {"http://127.0.0.1:" + std::to_string(gateway.http_port()), std::string("http:/x"),
          std::string("://"), std::string("http://:80/x"),
          std::string("http://127.0.0.1:99999999999999999999/x"), std::string("http://[::1]:80/x"),
          std::string("http://a b/x"), std::string("http://127.0.0.1:-5/x")}) {
        nat.control_url = url;
        std::string address = "untouched";
        EXPECT_FALSE(nat.get_external_ip(address)) << url;
        expect_clean_failure(nat);
        EXPECT_EQ(address, "untouched");
    }
    // A port beyond sixteen bits wraps, here onto the gateway.
    nat.control_url =
        "http://127.0.0.1:" + std::to_string(65536 + gateway.http_port()) + "/ctl/IPConn";
    std::string address;
    EXPECT_TRUE(nat.get_external_ip(address));
}

TEST_F(BadInput, GarbageAndDeeplyNestedAnswers) {
    std::mt19937 random(1234);
    const std::string alphabet = "<>/&;:\"' =?!-[]abcHTTP/1.1 200 OK\r\nEnvelope";
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    for (int round = 0; round <= 40; ++round) {
        std::string junk(static_cast<std::size_t>(random() % 3000), '\0');
        for (char& c : junk)
            c = alphabet[random() % alphabet.size()];
        gateway.script("GetExternalIPAddress", fakegw::http_ok(round == 40 ? deep : junk));
        std::string address;
        if (!nat.get_external_ip(address))
            expect_clean_failure(nat);
    }
}

} // namespace
