#include "support.h"

namespace {

using fakegw::Entry;

class Mappings : public GatewayTest {
  protected:
    Mappings() { select_service(); }
    bool list(std::string* out = nullptr) {
        testing::internal::CaptureStdout();
        const bool ok = nat.get_port_mappings();
        const std::string printed = testing::internal::GetCapturedStdout();
        if (out)
            *out = printed;
        return ok;
    }
    static std::vector<std::string> descriptions(const std::vector<MappingRecord>& records) {
        std::vector<std::string> out;
        for (const auto& r : records)
            out.push_back(r.description);
        return out;
    }
};

TEST_F(Mappings, EmptyTable) {
    EXPECT_TRUE(list());
    EXPECT_TRUE(nat.mappings.empty());
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Totally 0 mapping entries.\n");
    EXPECT_EQ(nat.tcp_socket, -1);
}

TEST_F(Mappings, ReadsEveryEntryInTheRoutersOrder) {
    gateway.set_entries({{"8080", "TCP", "80", "192.168.1.20", "web"},
                         {"2222", "TCP", "22", "192.168.1.21", "ssh"},
                         {"27015", "UDP", "27015", "192.168.1.22", "game"}});
    EXPECT_TRUE(list());
    ASSERT_EQ(nat.mappings.size(), 3u);
    const MappingRecord web{"web", "TCP", "8080", "192.168.1.20", "80"};
    EXPECT_EQ(nat.mappings[0], web);
    EXPECT_EQ(descriptions(nat.mappings), (std::vector<std::string>{"web", "ssh", "game"}));
    EXPECT_EQ(nat.last_error, "Totally 3 mapping entries.\n");
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(gateway.requests_for("GetGenericPortMappingEntry").size(), 4u);
    EXPECT_EQ(gateway.connections(), 4u) << "one connection per index";
    EXPECT_EQ(nat.mapping_lines,
              (std::vector<std::string>{"8080/TCP[web]-->192.168.1.20:80\r\n",
                                        "2222/TCP[ssh]-->192.168.1.21:22\r\n",
                                        "27015/UDP[game]-->192.168.1.22:27015\r\n"}));
}

TEST_F(Mappings, AsksForEachIndexInTurn) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"}, {"2", "TCP", "2", "10.0.0.2", "b"}});
    EXPECT_TRUE(list());
    const auto asked = gateway.requests_for("GetGenericPortMappingEntry");
    ASSERT_EQ(asked.size(), 3u);
    for (std::size_t i = 0; i < asked.size(); ++i)
        EXPECT_EQ(asked[i].argument("NewPortMappingIndex"), std::to_string(i));
}

TEST_F(Mappings, PrintsEachEntry) {
    gateway.set_entries({{"8080", "TCP", "80", "192.168.1.20", "web"}});
    std::string out;
    EXPECT_TRUE(list(&out));
    EXPECT_EQ(out, "mapping[0]:8080/TCP[web]-->192.168.1.20:80\r\n\n");
}

TEST_F(Mappings, TcpAndUdpOfOneProgramAreBothListed) {
    gateway.set_entries({{"27015", "TCP", "27015", "192.168.1.22", "game"},
                         {"27015", "UDP", "27015", "192.168.1.22", "game"},
                         {"22", "TCP", "22", "192.168.1.21", "ssh"}});
    EXPECT_TRUE(list());
    ASSERT_EQ(nat.mappings.size(), 3u);
    EXPECT_EQ(nat.mappings[0].protocol, "TCP");
    EXPECT_EQ(nat.mappings[1].protocol, "UDP");
    EXPECT_EQ(nat.last_error, "Totally 3 mapping entries.\n");
}

TEST_F(Mappings, RouterRepeatingItsLastEntryEndsTheList) {
    // Past its table this router answers with a copy of the last entry instead of a fault.
    const Entry last{"2222", "TCP", "22", "192.168.1.21", "ssh"};
    gateway.set_handler([last](const fakegw::Request& r) -> std::optional<fakegw::Reply> {
        if (r.action != "GetGenericPortMappingEntry")
            return std::nullopt;
        const std::string index = r.argument("NewPortMappingIndex").value_or("");
        const Entry e = index == "0" ? Entry{"8080", "TCP", "80", "192.168.1.20", "web"} : last;
        return fakegw::soap_ok(r.action, fakegw::entry_arguments(e));
    });
    nat.last_error = "before\n";
    EXPECT_TRUE(list());
    EXPECT_EQ(descriptions(nat.mappings), (std::vector<std::string>{"web", "ssh"}));
    EXPECT_EQ(nat.mapping_lines.size(), 3u) << "the repeated entry's line is kept";
    EXPECT_EQ(nat.status, 2);
    EXPECT_EQ(nat.last_error, "before\n");
    EXPECT_EQ(gateway.requests_for("GetGenericPortMappingEntry").size(), 3u);
}

TEST_F(Mappings, EqualDescriptionsApartDoNotEndTheList) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "same"},
                         {"2", "TCP", "2", "10.0.0.2", "other"},
                         {"3", "TCP", "3", "10.0.0.2", "same"},
                         {"4", "TCP", "4", "10.0.0.2", "Same"}});
    EXPECT_TRUE(list());
    EXPECT_EQ(nat.mappings.size(), 4u);
}

TEST_F(Mappings, EntitiesInTheAnswerAreDecoded) {
    gateway.set_entries({{"80", "TCP", "80", "10.0.0.2", "Tom & Jerry <web>"},
                         {"81", "TCP", "81", "10.0.0.2", "caf\xc3\xa9"}});
    gateway.script_index(
        1, fakegw::soap_ok("GetGenericPortMappingEntry",
                           "<NewExternalPort>81</NewExternalPort><NewProtocol>TCP</NewProtocol>"
                           "<NewInternalPort>81</NewInternalPort><NewInternalClient>10.0.0.2"
                           "</NewInternalClient><NewPortMappingDescription>caf&#233;"
                           "</NewPortMappingDescription>"));
    EXPECT_TRUE(list());
    ASSERT_EQ(nat.mappings.size(), 2u);
    EXPECT_EQ(nat.mappings[0].description, "Tom & Jerry <web>");
    EXPECT_EQ(nat.mappings[1].description, "caf\xc3\xa9");
}

TEST_F(Mappings, EmptyDescriptions) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", ""},
                         {"2", "UDP", "2", "10.0.0.2", ""},
                         {"2", "UDP", "2", "10.0.0.2", ""}});
    EXPECT_TRUE(list());
    ASSERT_EQ(nat.mappings.size(), 2u);
    EXPECT_EQ(nat.mappings[0].description, "");
}

TEST_F(Mappings, EachReadingStartsAfresh) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"}});
    EXPECT_TRUE(list());
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"}, {"2", "TCP", "2", "10.0.0.2", "b"}});
    EXPECT_TRUE(list());
    EXPECT_EQ(descriptions(nat.mappings), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(nat.mapping_lines.size(), 2u);
}

TEST_F(Mappings, LostConnectionKeepsWhatWasRead) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"},
                         {"2", "TCP", "2", "10.0.0.2", "b"},
                         {"3", "TCP", "3", "10.0.0.2", "c"}});
    gateway.set_handler([this](const fakegw::Request& r) -> std::optional<fakegw::Reply> {
        if (r.argument("NewPortMappingIndex") == std::string("1"))
            gateway.stop_http(); // the router goes away after answering index 1
        return std::nullopt;
    });
    EXPECT_FALSE(list());
    EXPECT_EQ(descriptions(nat.mappings), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to connect to 127.0.0.1:" +
                                  std::to_string(gateway.http_port()) + " (using TCP)\n");
}

TEST_F(Mappings, RefusedControlUrl) {
    nat.control_url = "nonsense";
    nat.mappings.push_back({"old", "TCP", "1", "10.0.0.2", "1"});
    EXPECT_FALSE(list());
    EXPECT_TRUE(nat.mappings.empty());
    EXPECT_EQ(nat.last_error, "Fail to parseURl: nonsense\n");
}

TEST_F(Mappings, SilentIndexEndsTheList) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"}});
    fakegw::Reply silent;
    silent.silent = true;
    gateway.script_index(1, silent);
    nat.timings.read_wait_ms = 5;
    EXPECT_TRUE(list());
    EXPECT_EQ(nat.mappings.size(), 1u);
    EXPECT_EQ(nat.last_error, "Totally 1 mapping entries.\n");
    EXPECT_EQ(nat.last_response, "");
}

TEST_F(Mappings, MarkerSplitAcrossWritesIsStillOneAnswer) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"}, {"2", "TCP", "2", "10.0.0.2", "b"}});
    gateway.set_handler([](const fakegw::Request& r) -> std::optional<fakegw::Reply> {
        if (r.argument("NewPortMappingIndex") != std::string("0"))
            return std::nullopt;
        fakegw::Reply reply = fakegw::split_inside(
            fakegw::soap_ok(
                r.action, fakegw::entry_arguments(fakegw::Entry{"1", "TCP", "1", "10.0.0.2", "a"})),
            "</s:Envelope>", 30);
        reply.keep_open = true; // only the marker can end this answer
        return reply;
    });
    nat.timings.read_wait_ms = 2000;
    EXPECT_TRUE(list());
    EXPECT_EQ(descriptions(nat.mappings), (std::vector<std::string>{"a", "b"}));
}

TEST_F(Mappings, AnswerDeliveredInManyPieces) {
    gateway.set_entries({{"8080", "TCP", "80", "192.168.1.20", "web"}});
    gateway.set_handler([](const fakegw::Request& r) -> std::optional<fakegw::Reply> {
        if (r.argument("NewPortMappingIndex") != std::string("0"))
            return std::nullopt;
        return fakegw::split(
            fakegw::soap_ok(r.action, fakegw::entry_arguments(fakegw::Entry{
                                          "8080", "TCP", "80", "192.168.1.20", "web"})),
            25, 1);
    });
    EXPECT_TRUE(list());
    ASSERT_EQ(nat.mappings.size(), 1u);
    EXPECT_EQ(nat.mappings[0].internal_client, "192.168.1.20");
}

TEST_F(Mappings, LastResponseHoldsTheLatestAnswer) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"}});
    EXPECT_TRUE(list());
    EXPECT_EQ(nat.last_response, fakegw::soap_fault(713, "SpecifiedArrayIndexInvalid").bytes);
}

TEST_F(Mappings, NeverEndingTableStopsAtTheCap) {
    gateway.set_handler([](const fakegw::Request& r) -> std::optional<fakegw::Reply> {
        const std::string index = r.argument("NewPortMappingIndex").value_or("?");
        return fakegw::soap_ok(r.action, fakegw::entry_arguments(fakegw::Entry{
                                             index, "TCP", index, "10.0.0.2", "entry " + index}));
    });
    EXPECT_TRUE(list());
    EXPECT_EQ(nat.mappings.size(), static_cast<std::size_t>(UpnpNat::kIndexCap));
    EXPECT_EQ(nat.last_error, "Totally 4096 mapping entries.\n");
    EXPECT_EQ(gateway.requests().size(), 4096u);
    EXPECT_EQ(nat.mappings.back().description, "entry 4095");
}

// One answer per test that does not walk, with the text it must give.
struct BadEntry {
    const char* name;
    std::string body; // the answer after the HTTP head
    std::string error;
};

class MappingWalk : public GatewayTest, public ::testing::WithParamInterface<BadEntry> {};

TEST_P(MappingWalk, EndsTheListWithItsText) {
    select_service();
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"}});
    gateway.script_index(1, fakegw::http_ok(GetParam().body));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(nat.get_port_mappings());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(nat.mappings.size(), 1u);
    EXPECT_EQ(nat.mapping_lines.size(), 1u);
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to get mapping info from response data.(NO \"" +
                                  GetParam().error + "\" node.)\n");
    EXPECT_EQ(gateway.requests().size(), 2u);
}

std::string envelope(const std::string& inner) {
    return "<?xml version=\"1.0\"?><s:Envelope "
           "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">" +
           inner + "</s:Envelope>";
}
std::string response(const std::string& inner) {
    return envelope("<s:Body><u:GetGenericPortMappingEntryResponse>" + inner +
                    "</u:GetGenericPortMappingEntryResponse></s:Body>");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MappingWalk,
    ::testing::Values(
        BadEntry{"NoXml", "no markup at all", "SOAP-ENV:Envelope"},
        BadEntry{"BrokenXml", "<s:Envelope></s:Body>", "SOAP-ENV:Envelope"},
        BadEntry{"NoBody", envelope("<s:Header/>"), "SOAP-ENV:Body"},
        BadEntry{"HtmlPage", "<html><body><p>hi</p></body></html>",
                 "u:GetGenericPortMappingEntryResponse"},
        BadEntry{"OtherResponse", envelope("<s:Body><u:GetExternalIPAddressResponse/></s:Body>"),
                 "u:GetGenericPortMappingEntryResponse"},
        BadEntry{"NoExternalPort", response("<NewProtocol>TCP</NewProtocol>"), "NewExternalPort"},
        BadEntry{"NoProtocol", response("<NewExternalPort>1</NewExternalPort>"), "NewProtocol"},
        BadEntry{"NoInternalPort",
                 response("<NewExternalPort>1</NewExternalPort><NewProtocol>TCP</NewProtocol>"),
                 "NewInternalPort"},
        BadEntry{"NoInternalClient",
                 response("<NewExternalPort>1</NewExternalPort><NewProtocol>TCP</NewProtocol>"
                          "<NewInternalPort>1</NewInternalPort>"),
                 "NewInternalClient"},
        BadEntry{"NoDescription",
                 response("<NewExternalPort>1</NewExternalPort><NewProtocol>TCP</NewProtocol>"
                          "<NewInternalPort>1</NewInternalPort>"
                          "<NewInternalClient>10.0.0.2</NewInternalClient>"),
                 "NewPortMappingDescription"}),
    [](const ::testing::TestParamInfo<BadEntry>& info) { return std::string(info.param.name); });

TEST(MappingInfo, EmptyElementsGiveEmptyFields) {
    UpnpNat nat;
    nat.last_response = "HTTP/1.1 200 OK\r\n\r\n" +
                        response("<NewExternalPort/><NewProtocol></NewProtocol><NewInternalPort/>"
                                 "<NewInternalClient/><NewPortMappingDescription/>");
    ASSERT_TRUE(nat.parse_mapping_info());
    EXPECT_EQ(nat.mappings.at(0), (MappingRecord{"", "", "", "", ""}));
    EXPECT_EQ(nat.mapping_lines.at(0), "/[]-->:\r\n");
}

TEST(MappingInfo, ElementsInAnyOrderWithAnyPrefix) {
    UpnpNat nat;
    nat.last_response =
        "HTTP/1.1 200 "
        "OK\r\n\r\n<SOAP-ENV:Envelope><SOAP-ENV:Body><m:GetGenericPortMappingEntryResponse>"
        "<m:NewPortMappingDescription>d</m:NewPortMappingDescription>"
        "<m:NewInternalClient>10.0.0.9</m:NewInternalClient><NewInternalPort>9</NewInternalPort>"
        "<NewProtocol>UDP</NewProtocol><NewExternalPort>99</NewExternalPort>"
        "</m:GetGenericPortMappingEntryResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    ASSERT_TRUE(nat.parse_mapping_info());
    EXPECT_EQ(nat.mappings.at(0), (MappingRecord{"d", "UDP", "99", "10.0.0.9", "9"}));
}

} // namespace
