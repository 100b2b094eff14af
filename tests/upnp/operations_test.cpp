// The control actions on the wire: AddPortMapping, DeletePortMapping, GetExternalIPAddress and
// one GetGenericPortMappingEntry, each against the fake gateway.
#include "support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

namespace {

namespace fs = std::filesystem;

class Operations : public GatewayTest {
  protected:
    const fs::path folder = new_folder();
    std::string address = "untouched";

    Operations() { nat.log_folder = folder.string(); }
    static fs::path new_folder() {
        char name[] = "/tmp/quaymap-log-XXXXXX";
        return ::mkdtemp(name);
    }
    ~Operations() override { fs::remove_all(folder); }

    bool add(const std::string& description, uint16_t port,
             const std::string& client = "192.168.1.20") {
        return quietly([&] { return nat.add_port_mapping(description, client, port, 80, "TCP"); });
    }
    std::string log() const {
        std::ifstream in(folder / "quaymap.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Every control action, each telling whether it succeeded.
    std::vector<std::function<bool()>> each_action() {
        return {[this] { return add("web", 8080); },
                [this] { return nat.del_port_mapping(8080, "UDP"); },
                [this] { return nat.get_external_ip(address); },
                [this] {
                    nat.mappings.push_back({"old", "TCP", "1", "10.0.0.2", "1"});
                    return nat.get_port_mappings();
                }};
    }
    // Whatever the router sends, a failure comes with status 8 and a text ending in a line feed.
    void expect_clean_failure() {
        EXPECT_EQ(nat.status, 8);
        ASSERT_FALSE(nat.last_error.empty());
        EXPECT_EQ(nat.last_error.back(), '\n');
        EXPECT_EQ(nat.tcp_socket, -1);
    }
    std::size_t files() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
    }
};

TEST_F(Operations, RequestsByteForByte) {
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n<s:Body>\r\n";
    const std::string service = "urn:schemas-upnp-org:service:WANIPConnection:1";
    const std::string add_printed = "aaaaaaaaaaaaaaaaaaaaaaaaaa\nbbbbbbbbbbbbbbbb\n";
    struct Case {
        std::string action;
        std::function<bool()> call;
        std::string arguments;
        std::size_t length; // of the envelope
        int status;
        std::string output; // on standard output
    };
    const Case cases[] = {
        {"GetExternalIPAddress", [&] { return nat.get_external_ip(address); }, "", 312, 7, ""},
        {"AddPortMapping",
         [&] { return nat.add_port_mapping("web", "192.168.1.20", 8080, 80, "TCP"); },
         "<NewRemoteHost></NewRemoteHost>\r\n<NewExternalPort>8080</NewExternalPort>\r\n"
         "<NewProtocol>TCP</NewProtocol>\r\n<NewInternalPort>80</NewInternalPort>\r\n"
         "<NewInternalClient>192.168.1.20</NewInternalClient>\r\n<NewEnabled>1</NewEnabled>\r\n"
         "<NewPortMappingDescription>web</NewPortMappingDescription>\r\n"
         "<NewLeaseDuration>0</NewLeaseDuration>\r\n",
         626, 5, add_printed},
        {"DeletePortMapping", [&] { return nat.del_port_mapping(8080, "TCP"); },
         "<NewRemoteHost></NewRemoteHost>\r\n<NewExternalPort>8080</NewExternalPort>\r\n"
         "<NewProtocol>TCP</NewProtocol>\r\n",
         412, 5, ""},
        // The table is empty again: one index is asked for.
        {"GetGenericPortMappingEntry", [&] { return nat.get_port_mappings(); },
         "<NewPortMappingIndex>0</NewPortMappingIndex><NewRemoteHost></NewRemoteHost>\r\n"
         "<NewExternalPort></NewExternalPort>\r\n<NewProtocol></NewProtocol>\r\n"
         "<NewInternalPort></NewInternalPort>\r\n<NewInternalClient></NewInternalClient>\r\n"
         "<NewEnabled>1</NewEnabled>\r\n<NewPortMappingDescription></NewPortMappingDescription>\r\n"
         "<NewLeaseDuration></NewLeaseDuration>\r\n",
         669, 8, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        gateway.clear_records();
        EXPECT_TRUE(quietly(c.call));
        EXPECT_EQ(printed, c.output);
        EXPECT_EQ(nat.status, c.status);
        EXPECT_EQ(nat.tcp_socket, -1);
        const std::string envelope = head + "<u:" + c.action + " xmlns:u=\"" + service + "\">\r\n" +
                                     c.arguments + "</u:" + c.action +
                                     ">\r\n</s:Body>\r\n</s:Envelope>\r\n";
        EXPECT_EQ(envelope.size(), c.length);
        const auto requests = gateway.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].raw, "POST /ctl/IPConn HTTP/1.1\r\nHOST: 127.0.0.1:" +
                                       std::to_string(gateway.http_port()) + "\r\nSOAPACTION:\"" +
                                       service + "#" + c.action +
                                       "\"\r\nCONTENT-TYPE: text/xml ; charset=\"utf-8\"\r\n"
                                       "Content-Length: " +
                                       std::to_string(c.length) + " \r\n\r\n" + envelope);
    }
    EXPECT_EQ(address, "203.0.113.7");
    EXPECT_EQ(files(), 1u) << "only an add writes the log";
}

TEST_F(Operations, SoapCallSendsTheServiceAndHandsBackTheRawAnswerWithTheSocketOpen) {
    const fakegw::Reply reply = fakegw::soap_ok("GetExternalIPAddress", "<X>1</X>");
    gateway.script("GetExternalIPAddress", reply);
    nat.service_type = SERVICE_WANPPP;
    std::string answer;
    ASSERT_TRUE(nat.soap_call("GetExternalIPAddress", "", 10, answer));
    EXPECT_EQ(answer, reply.bytes);
    EXPECT_EQ(nat.status, 2);
    EXPECT_GE(nat.tcp_socket, 0);
    const std::string raw = gateway.requests().at(0).raw;
    const std::string ppp = "urn:schemas-upnp-org:service:WANPPPConnection:1";
    EXPECT_TRUE(contains(raw, "SOAPACTION:\"" + ppp + "#GetExternalIPAddress\""));
    EXPECT_TRUE(contains(raw, "<u:GetExternalIPAddress xmlns:u=\"" + ppp + "\">"));
}

TEST_F(Operations, FailuresBeforeAnythingIsSentKeepTheirTexts) {
    const auto operations = each_action();
    // No control URL (a gateway found through NAT-PMP), then a gateway that went away.
    nat.control_url.clear();
    for (const auto& operation : operations) {
        EXPECT_FALSE(operation());
        EXPECT_EQ(nat.status, 8);
        EXPECT_EQ(nat.last_error, "Fail to parseURl: \n");
    }
    nat.control_url = gateway.url("/ctl/IPConn");
    gateway.stop_http();
    for (const auto& operation : operations) {
        EXPECT_FALSE(operation());
        EXPECT_EQ(nat.status, 8);
        EXPECT_EQ(nat.last_error, connect_error());
    }
    EXPECT_EQ(address, "untouched");
    EXPECT_TRUE(nat.mappings.empty());
    EXPECT_EQ(gateway.connections(), 0u);
    EXPECT_EQ(files(), 0u) << "no log without an answer";
}

TEST_F(Operations, TextsInArgumentsAreEscaped) {
    quietly([&] {
        return nat.add_port_mapping("<b>Tom & Jerry's \"game\"</b>", "1.2.3.4<a/>", 1, 2, "TCP&");
    });
    const std::string body = gateway.requests().at(0).body;
    EXPECT_TRUE(contains(body, "<NewPortMappingDescription>&lt;b&gt;Tom &amp; Jerry&apos;s "
                               "&quot;game&quot;&lt;/b&gt;</NewPortMappingDescription>"));
    EXPECT_TRUE(contains(body, "<NewInternalClient>1.2.3.4&lt;a/&gt;</NewInternalClient>"));
    EXPECT_TRUE(contains(body, "<NewProtocol>TCP&amp;</NewProtocol>"));
}

TEST_F(Operations, RefusalsKeepTheRoutersReasonAndAddLogsEveryAnswer) {
    ASSERT_TRUE(add("web", 8080));
    EXPECT_EQ(log(), fakegw::soap_ok("AddPortMapping", "").bytes);
    EXPECT_FALSE(add("web", 8080, "192.168.1.99"));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (web/TCP)\n");
    EXPECT_EQ(nat.upnp_error_code, 718);
    EXPECT_EQ(nat.upnp_error_description, "ConflictInMappingEntry");
    EXPECT_EQ(nat.tcp_socket, -1);
    EXPECT_EQ(log(), fakegw::soap_fault(718, "ConflictInMappingEntry").bytes);
    EXPECT_EQ(files(), 1u) << "no temporary file left";
    ASSERT_TRUE(add("web", 8081));
    EXPECT_EQ(nat.upnp_error_code, 0);
    EXPECT_EQ(nat.upnp_error_description, "");
    EXPECT_FALSE(nat.del_port_mapping(1234, "TCP"));
    EXPECT_EQ(nat.last_error, "Fail to del port mapping (TCP/1234)\n");
    EXPECT_EQ(nat.upnp_error_code, 714);
    EXPECT_EQ(nat.upnp_error_description, "NoSuchEntryInArray");

    // A silent router: an empty log, and a mark for each of up to 30 waits that brought nothing.
    gateway.script("AddPortMapping", no_answer());
    nat.timings.read_wait_ms = 5;
    EXPECT_FALSE(add("web", 8082));
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (web/TCP)\n");
    EXPECT_EQ(log(), "");
    EXPECT_GE(count_of(printed, "cccccccccccccccccccc\n"), 1u);
    EXPECT_LE(count_of(printed, "cccccccccccccccccccc\n"), 30u) << printed;
    // A folder that cannot take the log, or none, changes nothing.
    gateway.script("AddPortMapping", fakegw::soap_ok("AddPortMapping", ""));
    nat.log_folder = (folder / "missing").string();
    EXPECT_TRUE(add("web", 8083));
    nat.log_folder.clear();
    EXPECT_TRUE(add("web", 8084));
    EXPECT_EQ(log(), "");
    EXPECT_EQ(files(), 1u);
}

TEST_F(Operations, AddMarksEachChunkWithoutTheMarker) {
    gateway.script("AddPortMapping", fakegw::split_inside(fakegw::soap_ok("AddPortMapping", ""),
                                                          "</s:Envelope>", 300));
    nat.timings.read_wait_ms = 5000; // no wait runs out between the two writes
    ASSERT_TRUE(add("web", 8080));
    EXPECT_EQ(printed, "aaaaaaaaaaaaaaaaaaaaaaaaaa\ncccccccccccccccccccc\nbbbbbbbbbbbbbbbb\n");
}

TEST_F(Operations, AddWaitsThirtyTimesLongerThanADeleteTen) {
    fakegw::Reply slow = fakegw::soap_ok("AddPortMapping", "");
    slow.delay_ms = 300;
    gateway.script("AddPortMapping", slow);
    slow.delay_ms = 600;
    gateway.script("DeletePortMapping", slow);
    nat.timings.read_wait_ms = 20; // 30 waits outlast the delay, 10 do not
    EXPECT_TRUE(add("web", 8080));
    EXPECT_FALSE(nat.del_port_mapping(8080, "TCP"));
    EXPECT_EQ(nat.last_error, "Fail to del port mapping (TCP/8080)\n");
}

TEST_F(Operations, OnlyAStatusLineWithCode200IsSuccess) {
    gateway.script("AddPortMapping",
                   fakegw::http_status(500, "Internal Server Error", "<p>not 200 OK</p>"));
    EXPECT_FALSE(add("web", 8080));
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (web/TCP)\n");

    fakegw::Reply cut = fakegw::soap_ok("DeletePortMapping", "");
    cut.close_after = 8; // "HTTP/1.1", then the router hangs up
    gateway.script("DeletePortMapping", cut);
    EXPECT_FALSE(nat.del_port_mapping(8080, "TCP"));
    EXPECT_EQ(nat.last_error, "Fail to del port mapping (TCP/8080)\n");
}

TEST_F(Operations, ExternalAddressAsTheRouterGivesItOrTheFailureText) {
    const auto ip = [](const std::string& arguments) {
        return fakegw::soap_ok("GetExternalIPAddress", arguments);
    };
    fakegw::Reply cut = ip("<NewExternalIPAddress>198.51.100.1</NewExternalIPAddress><X>");
    cut.bytes[cut.bytes.find("<X>")] = '\0'; // what follows a zero byte is lost
    fakegw::Reply bare = ip("<NewExternalIPAddress>1.2.3.4</NewExternalIPAddress>");
    bare.bytes.erase(0, bare.bytes.find("<s:Envelope")); // no status line
    const std::string refused = "!Fail to get router internet ip.\n";
    const std::string walk = "!Fail to get mapping info from response data.(NO \"";
    // The address on success; on failure "!" and the text.
    const std::pair<fakegw::Reply, std::string> cases[] = {
        {ip("<NewExternalIPAddress>0.0.0.0</NewExternalIPAddress>"), "0.0.0.0"}, // no WAN link
        {ip("<NewExternalIPAddress/>"), ""},
        {cut, "198.51.100.1"},
        {bare, refused},
        {fakegw::soap_fault(501, "ActionFailed"), refused},
        {no_answer(), refused},
        {fakegw::http_ok(""), walk + "SOAP-ENV:Envelope\" node.)\n"},
        {fakegw::http_ok("<s:Envelope><s:Head/></s:Envelope>"), walk + "SOAP-ENV:Body\" node.)\n"},
        {fakegw::http_ok("<s:Envelope><s:Body><u:Other/></s:Body></s:Envelope>"),
         walk + "u:GetExternalIPAddressResponse\" node.)\n"},
        {ip("<Other>1</Other>"), walk + "NewExternalIPAddress\" node.)\n"},
    };
    nat.timings.read_wait_ms = 5;
    for (const auto& [reply, expected] : cases) {
        gateway.script("GetExternalIPAddress", reply);
        address = "untouched";
        const bool ok = nat.get_external_ip(address);
        EXPECT_EQ(ok ? address : "!" + nat.last_error, expected);
        EXPECT_EQ(address, ok ? expected : "untouched");
        EXPECT_EQ(nat.status, ok ? 7 : 8);
        EXPECT_EQ(nat.tcp_socket, -1);
    }
    EXPECT_TRUE(nat.last_response.empty()) << "the address answer is not kept";
}

TEST_F(Operations, EnormousAnswerToEachActionFailsCleanly) {
    const fakegw::Reply enormous =
        fakegw::http_ok(std::string(UpnpNat::kAnswerCap + 1, 'x') + "</s:Envelope>");
    for (const char* action : {"AddPortMapping", "DeletePortMapping", "GetExternalIPAddress",
                               "GetGenericPortMappingEntry"})
        gateway.script(action, enormous);
    for (const auto& operation : each_action()) {
        operation();
        expect_clean_failure();
        EXPECT_TRUE(nat.mappings.empty());
    }
    EXPECT_EQ(nat.last_error, "Totally 0 mapping entries.\n");
    EXPECT_EQ(address, "untouched");
}

TEST_F(Operations, OddControlUrlsFailCleanly) {
    // URLs that lead nowhere: no host, an IPv6 literal, a blank, a negative port, no path.
    for (const std::string url :
         {"http://:80/x", "http://[::1]:80/x", "http://a b/x", "http://127.0.0.1:-5/x", "://"}) {
        nat.control_url = url;
        EXPECT_FALSE(nat.get_external_ip(address)) << url;
        expect_clean_failure();
    }
    EXPECT_EQ(address, "untouched");
    // A port beyond sixteen bits wraps, here onto the gateway.
    nat.control_url =
        "http://127.0.0.1:" + std::to_string(65536 + gateway.http_port()) + "/ctl/IPConn";
    EXPECT_TRUE(nat.get_external_ip(address));
}

TEST_F(Operations, GarbageAndDeeplyNestedAnswersFailCleanly) {
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
        if (!nat.get_external_ip(address))
            expect_clean_failure();
    }
}

} // namespace
