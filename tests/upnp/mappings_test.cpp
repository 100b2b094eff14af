#include "support.h"

#include <algorithm>

namespace {

using fakegw::Entry;
using fakegw::Reply;
using fakegw::Request;

class Mappings : public GatewayTest {
  protected:
    bool list() {
        return quietly([this] { return nat.get_port_mappings(); });
    }
    std::string descriptions() const {
        std::string out;
        for (const auto& r : nat.mappings)
            out += r.description + ";";
        return out;
    }
};

TEST_F(Mappings, ReadsEveryEntryIndexByIndexAfresh) {
    EXPECT_TRUE(list());
    EXPECT_TRUE(nat.mappings.empty());
    EXPECT_EQ(nat.last_error, "Totally 0 mapping entries.\n");
    gateway.set_entries({{"8080", "TCP", "80", "192.168.1.20", "web"}});
    EXPECT_TRUE(list());
    gateway.set_entries({{"8080", "TCP", "80", "192.168.1.20", "web"},
                         {"2222", "TCP", "22", "192.168.1.21", "Tom & Jerry <ssh>"},
                         {"27015", "UDP", "27015", "192.168.1.22", "game"}});
    gateway.clear_records();
    EXPECT_TRUE(list());
    ASSERT_EQ(nat.mappings.size(), 3u);
    EXPECT_EQ(nat.mappings[1],
              (MappingRecord{"Tom & Jerry <ssh>", "TCP", "2222", "192.168.1.21", "22"}));
    const std::vector<std::string> lines = {"8080/TCP[web]-->192.168.1.20:80\r\n",
                                            "2222/TCP[Tom & Jerry <ssh>]-->192.168.1.21:22\r\n",
                                            "27015/UDP[game]-->192.168.1.22:27015\r\n"};
    EXPECT_EQ(nat.mapping_lines, lines);
    EXPECT_EQ(printed, "mapping[0]:" + lines[0] + "\nmapping[1]:" + lines[1] +
                           "\nmapping[2]:" + lines[2] + "\n");
    // The fault past the last entry ends the list, and is kept.
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Totally 3 mapping entries.\n");
    EXPECT_EQ(nat.last_response, fakegw::soap_fault(713, "SpecifiedArrayIndexInvalid").bytes);
    EXPECT_EQ(nat.tcp_socket, -1);
    const auto asked = gateway.requests_for("GetGenericPortMappingEntry");
    ASSERT_EQ(asked.size(), 4u);
    for (std::size_t i = 0; i < asked.size(); ++i)
        EXPECT_EQ(asked[i].argument("NewPortMappingIndex"), std::to_string(i));
    EXPECT_EQ(gateway.connections(), 4u) << "one connection per index";
}

TEST_F(Mappings, OnlyAnEntryRepeatedInAllFiveFieldsEndsTheList) {
    // Past its table this router answers with a copy of the last entry instead of a fault.
    const std::vector<Entry> table = {{"27015", "TCP", "27015", "192.168.1.22", "game"},
                                      {"27015", "UDP", "27015", "192.168.1.22", "game"},
                                      {"1", "TCP", "1", "10.0.0.2", "same"},
                                      {"2", "TCP", "2", "10.0.0.2", "other"},
                                      {"3", "TCP", "3", "10.0.0.2", "same"}};
    gateway.set_handler([table](const Request& r) -> std::optional<Reply> {
        const std::size_t index = std::stoul(r.argument("NewPortMappingIndex").value_or("0"));
        return fakegw::soap_ok(r.action,
                               fakegw::entry_arguments(table[std::min(index, table.size() - 1)]));
    });
    nat.last_error = "before\n";
    EXPECT_TRUE(list());
    EXPECT_EQ(descriptions(), "game;game;same;other;same;");
    EXPECT_EQ(nat.mapping_lines.size(), 6u) << "the repeated entry's line is kept";
    EXPECT_EQ(nat.status, 2);
    EXPECT_EQ(nat.last_error, "before\n");
    EXPECT_EQ(gateway.requests().size(), 6u);
}

TEST_F(Mappings, NeverEndingTableStopsAtTheCap) {
    gateway.set_handler([](const Request& r) -> std::optional<Reply> {
        const std::string index = r.argument("NewPortMappingIndex").value_or("?");
        return fakegw::soap_ok(r.action, fakegw::entry_arguments(Entry{
                                             index, "TCP", index, "10.0.0.2", "entry " + index}));
    });
    EXPECT_TRUE(list());
    EXPECT_EQ(nat.mappings.size(), static_cast<std::size_t>(UpnpNat::kIndexCap));
    EXPECT_EQ(nat.last_error, "Totally 4096 mapping entries.\n");
    EXPECT_EQ(gateway.requests().size(), 4096u);
    EXPECT_EQ(nat.mappings.back().description, "entry 4095");
}

TEST_F(Mappings, LostConnectionKeepsWhatWasRead) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"},
                         {"2", "TCP", "2", "10.0.0.2", "b"},
                         {"3", "TCP", "3", "10.0.0.2", "c"}});
    gateway.set_handler([this](const Request& r) -> std::optional<Reply> {
        if (r.argument("NewPortMappingIndex") == std::string("1"))
            gateway.stop_http(); // the router goes away after answering index 1
        return std::nullopt;
    });
    EXPECT_FALSE(list());
    EXPECT_EQ(descriptions(), "a;b;");
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, connect_error());
}

TEST_F(Mappings, SilentOrUnreadableIndexEndsTheList) {
    gateway.set_entries({{"1", "TCP", "1", "10.0.0.2", "a"}});
    gateway.script_index(1, no_answer());
    nat.timings.read_wait_ms = 5;
    EXPECT_TRUE(list());
    EXPECT_EQ(descriptions(), "a;");
    EXPECT_EQ(nat.last_error, "Totally 1 mapping entries.\n");
    EXPECT_EQ(nat.last_response, "");

    gateway.script_index(1, fakegw::http_ok("<html><body><p>hi</p></body></html>"));
    EXPECT_TRUE(list());
    EXPECT_EQ(descriptions(), "a;");
    EXPECT_EQ(nat.mapping_lines.size(), 1u);
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to get mapping info from response data.(NO "
                              "\"u:GetGenericPortMappingEntryResponse\" node.)\n");
}

std::string envelope(const std::string& inner) {
    return "HTTP/1.1 200 OK\r\n\r\n<?xml version=\"1.0\"?><s:Envelope "
           "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">" +
           inner + "</s:Envelope>";
}

std::string response(const std::string& inner) {
    return envelope("<s:Body><u:GetGenericPortMappingEntryResponse>" + inner +
                    "</u:GetGenericPortMappingEntryResponse></s:Body>");
}

TEST(MappingInfo, OneRecordOrTheFirstMissingElement) {
    const std::string ports = "<NewExternalPort>1</NewExternalPort><NewProtocol>TCP</NewProtocol>"
                              "<NewInternalPort>1</NewInternalPort>";
    // The record's line, or "!" and the element the walk missed.
    const std::pair<std::string, std::string> cases[] = {
        // Any order, any prefix, empty elements.
        {"HTTP/1.1 200 OK\r\n\r\n<SOAP-ENV:Envelope><SOAP-ENV:Body>"
         "<m:GetGenericPortMappingEntryResponse>"
         "<m:NewPortMappingDescription>d</m:NewPortMappingDescription>"
         "<m:NewInternalClient>10.0.0.9</m:NewInternalClient><NewInternalPort>9</NewInternalPort>"
         "<NewProtocol>UDP</NewProtocol><NewExternalPort>99</NewExternalPort>"
         "</m:GetGenericPortMappingEntryResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>",
         "99/UDP[d]-->10.0.0.9:9\r\n"},
        {response("<NewExternalPort/><NewProtocol></NewProtocol><NewInternalPort/>"
                  "<NewInternalClient/><NewPortMappingDescription/>"),
         "/[]-->:\r\n"},
        {"no markup at all", "!SOAP-ENV:Envelope"},
        {"<s:Envelope></s:Body>", "!SOAP-ENV:Envelope"},
        {envelope("<s:Header/>"), "!SOAP-ENV:Body"},
        {envelope("<s:Body><u:GetExternalIPAddressResponse/></s:Body>"),
         "!u:GetGenericPortMappingEntryResponse"},
        {response("<NewProtocol>TCP</NewProtocol>"), "!NewExternalPort"},
        {response("<NewExternalPort>1</NewExternalPort>"), "!NewProtocol"},
        {response("<NewExternalPort>1</NewExternalPort><NewProtocol>TCP</NewProtocol>"),
         "!NewInternalPort"},
        {response(ports), "!NewInternalClient"},
        {response(ports + "<NewInternalClient>10.0.0.2</NewInternalClient>"),
         "!NewPortMappingDescription"},
    };
    for (const auto& [answer, expected] : cases) {
        UpnpNat nat;
        nat.last_response = answer;
        if (nat.parse_mapping_info()) {
            ASSERT_EQ(nat.mappings.size(), 1u);
            EXPECT_EQ(nat.mapping_lines.at(0), expected);
        } else {
            EXPECT_EQ(nat.status, 8);
            EXPECT_EQ(nat.last_error, "Fail to get mapping info from response data.(NO \"" +
                                          expected.substr(1) + "\" node.)\n");
            EXPECT_TRUE(nat.mappings.empty() && nat.mapping_lines.empty());
        }
    }
}

} // namespace
