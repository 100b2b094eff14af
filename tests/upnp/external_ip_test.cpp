#include "support.h"

namespace {

class ExternalIp : public GatewayTest {
  protected:
    ExternalIp() { select_service(); }
    std::string address = "untouched";
};

TEST_F(ExternalIp, ReadsTheAddress) {
    ASSERT_TRUE(nat.get_external_ip(address));
    EXPECT_EQ(address, "203.0.113.7");
    EXPECT_EQ(nat.status, 7);
    EXPECT_EQ(nat.tcp_socket, -1);
    EXPECT_TRUE(nat.last_response.empty()) << "the address answer is not kept";
}

TEST_F(ExternalIp, NoWanConnectionReadsAllZeros) {
    gateway.set_external_ip("0.0.0.0");
    ASSERT_TRUE(nat.get_external_ip(address));
    EXPECT_EQ(address, "0.0.0.0");
}

TEST_F(ExternalIp, EmptyElementGivesTheEmptyText) {
    gateway.script("GetExternalIPAddress",
                   fakegw::soap_ok("GetExternalIPAddress", "<NewExternalIPAddress/>"));
    ASSERT_TRUE(nat.get_external_ip(address));
    EXPECT_EQ(address, "");
}

TEST_F(ExternalIp, AddressIsNotValidated) {
    gateway.set_external_ip("not an address");
    ASSERT_TRUE(nat.get_external_ip(address));
    EXPECT_EQ(address, "not an address");
}

TEST_F(ExternalIp, RefusalLeavesTheAddressUntouched) {
    gateway.script("GetExternalIPAddress", fakegw::soap_fault(501, "ActionFailed"));
    EXPECT_FALSE(nat.get_external_ip(address));
    EXPECT_EQ(address, "untouched");
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to get router internet ip.\n");
    EXPECT_EQ(nat.tcp_socket, -1);
}

TEST_F(ExternalIp, SilentRouter) {
    fakegw::Reply silent;
    silent.silent = true;
    gateway.script("GetExternalIPAddress", silent);
    nat.timings.read_wait_ms = 5;
    EXPECT_FALSE(nat.get_external_ip(address));
    EXPECT_EQ(nat.last_error, "Fail to get router internet ip.\n");
    EXPECT_EQ(address, "untouched");
}

TEST_F(ExternalIp, RouterFoundThroughNatPmpHasNoControlUrl) {
    nat.control_url.clear();
    EXPECT_FALSE(nat.get_external_ip(address));
    EXPECT_EQ(nat.last_error, "Fail to parseURl: \n");
    EXPECT_EQ(address, "untouched");
}

TEST_F(ExternalIp, ZeroByteCutsTheAnswer) {
    // What follows the zero byte is lost; the lenient walk still finds what came before it.
    fakegw::Reply reply = fakegw::soap_ok(
        "GetExternalIPAddress", "<NewExternalIPAddress>198.51.100.1</NewExternalIPAddress><X>");
    reply.bytes[reply.bytes.find("<X>")] = '\0';
    gateway.script("GetExternalIPAddress", reply);
    ASSERT_TRUE(nat.get_external_ip(address));
    EXPECT_EQ(address, "198.51.100.1");
    reply.bytes = fakegw::soap_ok("GetExternalIPAddress", "").bytes;
    reply.bytes[reply.bytes.find("<s:Envelope")] = '\0';
    gateway.script("GetExternalIPAddress", reply);
    address = "untouched";
    EXPECT_FALSE(nat.get_external_ip(address));
    EXPECT_EQ(address, "untouched");
    // Only the XML declaration is left, which the lookup hands back for want of an envelope.
    EXPECT_EQ(nat.last_error,
              "Fail to get mapping info from response data.(NO \"SOAP-ENV:Body\" node.)\n");
}

struct BadAnswer {
    const char* name;
    std::string body;
    std::string missing;
};

class ExternalIpWalk : public GatewayTest, public ::testing::WithParamInterface<BadAnswer> {};

TEST_P(ExternalIpWalk, GivesItsText) {
    select_service();
    gateway.script("GetExternalIPAddress", fakegw::http_ok(GetParam().body));
    std::string address = "untouched";
    EXPECT_FALSE(nat.get_external_ip(address));
    EXPECT_EQ(address, "untouched");
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to get mapping info from response data.(NO \"" +
                                  GetParam().missing + "\" node.)\n");
    EXPECT_EQ(nat.tcp_socket, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ExternalIpWalk,
    ::testing::Values(
        BadAnswer{"Empty", "", "SOAP-ENV:Envelope"},
        BadAnswer{"NoBody", "<s:Envelope><s:Head/></s:Envelope>", "SOAP-ENV:Body"},
        BadAnswer{"NoResponse", "<s:Envelope><s:Body><u:Other/></s:Body></s:Envelope>",
                  "u:GetExternalIPAddressResponse"},
        BadAnswer{"NoAddress",
                  "<s:Envelope><s:Body><u:GetExternalIPAddressResponse><Other>1</Other>"
                  "</u:GetExternalIPAddressResponse></s:Body></s:Envelope>",
                  "NewExternalIPAddress"}),
    [](const ::testing::TestParamInfo<BadAnswer>& info) { return std::string(info.param.name); });

} // namespace
