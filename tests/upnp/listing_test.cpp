// Reading the mapping table: the listing's forms, pages of GetListOfPortMappings, the index walk.
#include "harness.h"

// Records as "<port><protocol> <description> <lease>;".
static std::string text_of(const std::vector<MappingRecord>& records) {
    std::string text;
    for (const MappingRecord& r : records)
        text += r.external_port + r.protocol + ' ' + r.description + ' ' + r.lease_duration + ';';
    return text;
}

class Listing : public Client {
  protected:
    const std::string walk = "GetGenericPortMappingEntry", list = "GetListOfPortMappings";

    std::string page(int first, int count) const {
        std::string entries;
        for (int port = first; port < first + count; ++port)
            entries += entry(port, "e", "TCP", "list-entry.xml", "p:");
        return http(router.file("list-cdata.xml", {{"@ENTRIES@", entries}}));
    }
    // The records of the latest listing, then what it could not read: "|<index, or protocol and
    // first port>:<reason>;".
    std::string listed() const {
        std::string text = text_of(nat.mappings) + "|";
        for (const UnreadEntry& u : nat.mappings_unread)
            text += u.protocol + std::to_string(u.index < 0 ? u.first_port : u.index) + ":" +
                    u.reason + ";";
        return text;
    }
};

TEST_F(Listing, InCdataOrEscapedWithAnyPrefix) {
    const auto listing = [this](const char* file, const std::string& prefix, bool escaped) {
        const std::string entries = entry(8080, "R&D <web>", "TCP", "list-entry.xml", prefix) +
                                    entry(27015, "game", "UDP", "list-entry.xml", prefix);
        return router.file(file, {{"@ENTRIES@", escaped ? EncodeXMLEntities(entries) : entries}});
    };
    const std::string both = "8080TCP R&D <web> 3600;27015UDP game 3600;";
    // The records, or "!" when the listing does not parse.
    const std::pair<std::string, std::string> cases[] = {
        {listing("list-cdata.xml", "p:", false), both},
        {listing("list-escaped.xml", "", true), both},
        {listing("list-escaped.xml", "q:", true), both},
        {router.file("list-cdata.xml", {{"@ENTRIES@", ""}}), ""},
        {reply(list, "<NewPortListing>none</NewPortListing>"), "!"},
        {reply(list), "!"},
    };
    for (const auto& [answer, expected] : cases) {
        std::vector<MappingRecord> records;
        const bool ok = upnp_wire::port_listing_of(answer, records);
        EXPECT_EQ(ok ? text_of(records) : "!", expected) << answer;
    }
}

TEST_F(Listing, PagesGoOnFromTheLastPortPlusOneThenUdp) {
    nat.service_type = SERVICE_WANIP2;
    on(list, page(1, 1000));
    on(list, page(40000, 2), {"<NewStartPort>1001<"});
    on(list, fault(730, "PortMappingNotFound"), {">UDP<"}); // no UDP mapping
    // Step by step, each step one exchange: index 128 first (no such entry), then the pages.
    std::vector<int> steps;
    for (UpnpNat::MappingCursor cursor; !cursor.done;)
        steps.push_back(nat.read_mappings(cursor));
    EXPECT_EQ(steps, (std::vector<int>{0, 1000, 2, 0}));
    EXPECT_EQ(router.requests().size(), steps.size());
    EXPECT_TRUE(has(asked(list).at(2), "<NewStartPort>1</NewStartPort>")); // UDP from the start
    EXPECT_EQ(asked(list).at(0), router.file("request-GetListOfPortMappings.txt")); // 479 bytes
    ASSERT_EQ(nat.mappings.size(), 1002u);
    EXPECT_EQ(text_of({nat.mappings.back()}), "40001TCP e 3600;");
    // A later page that fails ends the listing with what was read, and says what it missed.
    on(list, fault(501, "Action Failed"), {"<NewStartPort>1001<"});
    EXPECT_TRUE(nat.get_port_mappings());
    EXPECT_EQ(nat.mappings.size(), 1000u);
    EXPECT_EQ(listed().substr(listed().find('|')), "|TCP1001:501 Action Failed;");
}

TEST_F(Listing, IndexWalkEndsOnlyOnNoSuchEntryOrARepeatAndSaysWhatItSkipped) {
    on(walk, reply(walk, entry(1, "a")), {"<NewPortMappingIndex>0<"});
    on(walk, reply(walk, entry(3, "c")), {"<NewPortMappingIndex>2<"});
    const std::string a = "1TCP a 3600;", ac = a + "3TCP c 3600;|";
    // What index 1 answers; what the walk lists.
    const std::pair<std::string, std::string> cases[] = {
        {fault(501, "Action Failed"), ac + "1:501 Action Failed;"},
        {http("", "404 Not Found"), ac + "1:HTTP 404 Not Found;"},
        {http("<Envelope><Body><Fault/></Body></Envelope>"), ac + "1:a refusal without a reason;"},
        {reply(walk, "<NewProtocol>TCP</NewProtocol>"), ac + "1:an answer that cannot be read;"},
        {fault(713, "SpecifiedArrayIndexInvalid"), a + "|"},
        // Past its table a router may repeat its last entry: all five fields alike end the list,
        // so the TCP and UDP mappings of one program, alike but in their protocol, do not.
        {reply(walk, entry(1, "a")), a + "|"},
        {reply(walk, entry(1, "a", "UDP")), a + "1UDP a 3600;3TCP c 3600;|"},
    };
    for (const auto& [answer, expected] : cases) {
        on(walk, answer, {"<NewPortMappingIndex>1<"});
        EXPECT_TRUE(nat.get_port_mappings());
        EXPECT_EQ(listed(), expected) << answer;
    }
    EXPECT_EQ(asked(walk).at(0), router.file("request-GetGenericPortMappingEntry.txt")); // 669
    // One that refuses every index is given up after eight in a row.
    on(walk, fault(501, "Action Failed"));
    const std::size_t before = asked(walk).size();
    EXPECT_TRUE(nat.get_port_mappings() && nat.mappings_unread.size() == 8);
    EXPECT_EQ(asked(walk).size(), before + UpnpNat::kUnreadInARow);
    // One that invents entries for ever, odd indexes unlike even ones, meets the cap.
    on(walk, reply(walk, entry(1, "a")));
    for (const char* odd : {"1<", "3<", "5<", "7<", "9<"})
        on(walk, reply(walk, entry(1, "b")), {std::string(odd) + "/NewPortMappingIndex>"});
    EXPECT_TRUE(nat.get_port_mappings());
    EXPECT_EQ(nat.mappings.size(), std::size_t(UpnpNat::kIndexCap));
    EXPECT_TRUE(nat.mappings_cut);
}

TEST_F(Listing, PagesOnlyWhenIndex128HoldsNoEntry) {
    nat.service_type = SERVICE_WANIP2;
    std::vector<std::string> logged;
    nat.log = [&logged](const std::string& line) { logged.push_back(line); };
    const std::string none = fault(714, "NoSuchEntryInArray"), empty = fault(730, "x");
    // The router; what its index 128 and first page answer ("": nothing); the pages asked;
    // whether the listing was had. A router that once did not answer is walked from then on.
    const std::tuple<const char*, std::string, std::string, std::size_t, bool> cases[] = {
        {"/a", fault(713, "SpecifiedArrayIndexInvalid"), empty, 2, true},
        // A router may name the service without listing by pages: the index walk still can.
        {"/a", none, fault(401, "Invalid Action"), 1, true},
        {"/a", reply(walk, entry(129)), empty, 0, true},
        {"/a", "", empty, 0, false},
        {"/a", none, empty, 0, true},
        {"/b", none, "", 1, false},
        {"/b", none, empty, 0, true},
    };
    for (const auto& [path, probe, first, pages, had] : cases) {
        nat.control_url = router.url(path);
        router.on_http({{"<NewPortMappingIndex>128<"}, probe, 0, 0, probe.empty() ? 0 : SIZE_MAX});
        router.on_http({{"#" + list + "\""}, first, 0, 0, first.empty() ? 0 : SIZE_MAX});
        const std::size_t before = asked(list).size();
        EXPECT_EQ(nat.get_port_mappings(), had);
        EXPECT_EQ(asked(list).size() - before, pages) << path << probe << first;
    }
    EXPECT_TRUE(logged.size() == 2 && has(logged[1], nat.control_url + " stopped answering"));
}
