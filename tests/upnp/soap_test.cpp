#include "support.h"
#include "wire_text.h"

namespace {

const std::string kEnvelopeHead =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
    "<s:Body>\r\n";

std::string header(const std::string& path, const std::string& host, unsigned port,
                   const std::string& action, std::size_t length) {
    return "POST " + path + " HTTP/1.1\r\nHOST: " + host + ":" + std::to_string(port) +
           "\r\nSOAPACTION:\"urn:schemas-upnp-org:service:WANIPConnection:1#" + action +
           "\"\r\nCONTENT-TYPE: text/xml ; charset=\"utf-8\"\r\nContent-Length: " +
           std::to_string(length) + " \r\n\r\n";
}

class Soap : public GatewayTest {
  protected:
    Soap() { select_service(); }
    const std::string port = std::to_string(gateway.http_port());
};

TEST_F(Soap, ExternalAddressRequestByteForByte) {
    std::string address;
    ASSERT_TRUE(nat.get_external_ip(address));
    const std::string envelope =
        kEnvelopeHead +
        "<u:GetExternalIPAddress xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">\r\n"
        "</u:GetExternalIPAddress>\r\n</s:Body>\r\n</s:Envelope>\r\n";
    ASSERT_EQ(envelope.size(), 312u);
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw,
              header("/ctl/IPConn", "127.0.0.1", gateway.http_port(), "GetExternalIPAddress", 312) +
                  envelope);
    EXPECT_TRUE(contains(requests[0].raw, "Content-Length: 312 \r\n\r\n"));
}

TEST_F(Soap, DeleteRequestByteForByte) {
    gateway.set_entries({{"8080", "TCP", "80", "192.168.1.20", "web"}});
    ASSERT_TRUE(nat.del_port_mapping(8080, "TCP"));
    const std::string envelope =
        kEnvelopeHead +
        "<u:DeletePortMapping xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">\r\n"
        "<NewRemoteHost></NewRemoteHost>\r\n<NewExternalPort>8080</NewExternalPort>\r\n"
        "<NewProtocol>TCP</NewProtocol>\r\n</u:DeletePortMapping>\r\n</s:Body>\r\n"
        "</s:Envelope>\r\n";
    ASSERT_EQ(envelope.size(), 412u);
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw,
              header("/ctl/IPConn", "127.0.0.1", gateway.http_port(), "DeletePortMapping", 412) +
                  envelope);
}

TEST_F(Soap, EntryRequestByteForByte) {
    testing::internal::CaptureStdout();
    ASSERT_TRUE(nat.get_port_mappings());
    testing::internal::GetCapturedStdout();
    const std::string envelope =
        kEnvelopeHead +
        "<u:GetGenericPortMappingEntry "
        "xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">\r\n"
        "<NewPortMappingIndex>0</NewPortMappingIndex><NewRemoteHost></NewRemoteHost>\r\n"
        "<NewExternalPort></NewExternalPort>\r\n<NewProtocol></NewProtocol>\r\n"
        "<NewInternalPort></NewInternalPort>\r\n<NewInternalClient></NewInternalClient>\r\n"
        "<NewEnabled>1</NewEnabled>\r\n<NewPortMappingDescription></NewPortMappingDescription>\r\n"
        "<NewLeaseDuration></NewLeaseDuration>\r\n</u:GetGenericPortMappingEntry>\r\n"
        "</s:Body>\r\n</s:Envelope>\r\n";
    ASSERT_EQ(envelope.size(), 669u);
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, header("/ctl/IPConn", "127.0.0.1", gateway.http_port(),
                                      "GetGenericPortMappingEntry", 669) +
                                   envelope);
}

TEST_F(Soap, AddRequestByteForByte) {
    testing::internal::CaptureStdout();
    ASSERT_TRUE(nat.add_port_mapping("web", "192.168.1.20", 8080, 80, "TCP"));
    testing::internal::GetCapturedStdout();
    const std::string envelope =
        kEnvelopeHead +
        "<u:AddPortMapping xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">\r\n"
        "<NewRemoteHost></NewRemoteHost>\r\n<NewExternalPort>8080</NewExternalPort>\r\n"
        "<NewProtocol>TCP</NewProtocol>\r\n<NewInternalPort>80</NewInternalPort>\r\n"
        "<NewInternalClient>192.168.1.20</NewInternalClient>\r\n<NewEnabled>1</NewEnabled>\r\n"
        "<NewPortMappingDescription>web</NewPortMappingDescription>\r\n"
        "<NewLeaseDuration>0</NewLeaseDuration>\r\n</u:AddPortMapping>\r\n</s:Body>\r\n"
        "</s:Envelope>\r\n";
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, header("/ctl/IPConn", "127.0.0.1", gateway.http_port(),
                                      "AddPortMapping", envelope.size()) +
                                   envelope);
}

TEST_F(Soap, PppServiceNamesItselfInNamespaceAndAction) {
    nat.service_type = SERVICE_WANPPP;
    std::string address;
    ASSERT_TRUE(nat.get_external_ip(address));
    const std::string raw = gateway.requests().at(0).raw;
    EXPECT_TRUE(contains(
        raw,
        "SOAPACTION:\"urn:schemas-upnp-org:service:WANPPPConnection:1#GetExternalIPAddress\""));
    EXPECT_TRUE(contains(
        raw,
        "<u:GetExternalIPAddress xmlns:u=\"urn:schemas-upnp-org:service:WANPPPConnection:1\">"));
}

TEST_F(Soap, HeaderNamesPortEightyWhenTheUrlHasNone) {
    std::string host, path;
    uint16_t p = 0;
    ASSERT_TRUE(UpnpNat::parse_url("http://10.0.0.1/ctl", host, p, path));
    EXPECT_EQ(upnp_wire::soap_header(path, host, p, SERVICE_WANIP, "GetExternalIPAddress", 312),
              header("/ctl", "10.0.0.1", 80, "GetExternalIPAddress", 312));
}

TEST_F(Soap, SoapCallHandsBackTheRawAnswer) {
    const fakegw::Reply reply = fakegw::soap_ok("GetExternalIPAddress", "<X>1</X>");
    gateway.script("GetExternalIPAddress", reply);
    std::string answer;
    ASSERT_TRUE(nat.soap_call("GetExternalIPAddress", "", 10, answer));
    EXPECT_EQ(answer, reply.bytes);
    EXPECT_EQ(nat.status, 2);
    EXPECT_GE(nat.tcp_socket, 0);
}

TEST_F(Soap, RefusedControlUrlSendsNothing) {
    nat.control_url = "http://127.0.0.1:" + port; // no path
    std::string answer = "untouched";
    EXPECT_FALSE(nat.soap_call("GetExternalIPAddress", "", 10, answer));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to parseURl: http://127.0.0.1:" + port + "\n");
    EXPECT_EQ(answer, "untouched");
    EXPECT_EQ(gateway.connections(), 0u);
}

TEST_F(Soap, UnreachableGatewayGivesTheConnectText) {
    gateway.stop_http();
    std::string answer;
    EXPECT_FALSE(nat.soap_call("GetExternalIPAddress", "", 10, answer));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to connect to 127.0.0.1:" + port + " (using TCP)\n");
}

TEST(Verdict, ComesFromTheStatusLine) {
    using upnp_wire::http_status_is_200;
    EXPECT_TRUE(http_status_is_200("HTTP/1.1 200 OK\r\n\r\n"));
    EXPECT_TRUE(http_status_is_200("HTTP/1.0 200 Fine\r\n"));
    EXPECT_TRUE(http_status_is_200("http/1.1 200\r\n"));
    EXPECT_TRUE(http_status_is_200("HTTP/1.1 200"));
    EXPECT_FALSE(http_status_is_200("HTTP/1.1 500 Internal Server Error\r\n\r\n200 OK"));
    EXPECT_FALSE(http_status_is_200("<html>200 OK</html>"));
    EXPECT_FALSE(http_status_is_200("HTTP/1.1 2000 OK\r\n"));
    EXPECT_FALSE(http_status_is_200("HTTP/1.1 201 Created\r\n"));
    EXPECT_FALSE(http_status_is_200("HTTP/ 200 OK\r\n"));
    EXPECT_FALSE(http_status_is_200("HTTP/1.1\r\n200 OK"));
    EXPECT_FALSE(http_status_is_200(""));
    EXPECT_FALSE(http_status_is_200(" HTTP/1.1 200 OK"));
}

TEST(UpnpErrorOfAFault, CodeAndDescription) {
    int code = 0;
    std::string text;
    ASSERT_TRUE(upnp_wire::upnp_error_of(fakegw::soap_fault(718, "ConflictInMappingEntry").bytes,
                                         code, text));
    EXPECT_EQ(code, 718);
    EXPECT_EQ(text, "ConflictInMappingEntry");
    code = 1;
    text = "kept";
    EXPECT_FALSE(upnp_wire::upnp_error_of("HTTP/1.1 500 Oops\r\n\r\n<html/>", code, text));
    EXPECT_EQ(code, 1);
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(upnp_wire::upnp_error_of("", code, text));
}

} // namespace
