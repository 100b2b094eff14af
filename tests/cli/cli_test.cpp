// The command line's reading of its arguments and its JSON: the parts of quaymap-cli that need
// no router. Its commands against a real router are checked in the lab.
#include "options.h"
#include "output.h"

#include <gtest/gtest.h>

using namespace quaymap_cli;

namespace {

Options parsed(std::vector<std::string> arguments, std::string* error = nullptr) {
    Options options;
    std::string why;
    EXPECT_EQ(parse_options(arguments, options, why), error == nullptr) << why;
    if (error)
        *error = why;
    return options;
}

} // namespace

TEST(CommandLine, ReadsEachCommandWithOptionsAnywhere) {
    const Options add = parsed({"add", "SSH", "2222:22", "tcp", "192.168.1.20", "--json",
                                "--lease", "3600", "--keep", "--router", "http://10.0.0.1/d.xml"});
    EXPECT_EQ(add.command, Command::add);
    EXPECT_EQ(add.name, "SSH");
    EXPECT_EQ(add.external_port, 2222);
    EXPECT_EQ(add.internal_port, 22);
    EXPECT_EQ(add.protocols, std::vector<std::string>{"TCP"});
    EXPECT_EQ(add.address, "192.168.1.20");
    EXPECT_EQ(add.lease, 3600);
    EXPECT_TRUE(add.json && add.keep);
    EXPECT_EQ(add.router_url, "http://10.0.0.1/d.xml");
    const Options both = parsed({"delete", "25565", "Both"});
    EXPECT_EQ(both.command, Command::remove);
    EXPECT_EQ(both.protocols, (std::vector<std::string>{"TCP", "UDP"}));
    EXPECT_EQ(parsed({"--verbose", "list"}).command, Command::list);
    EXPECT_EQ(parsed({"status", "--help"}).command, Command::help);
}

TEST(CommandLine, RefusesWhatCannotBeRightBeforeAnythingIsSent) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"open"},
        {"status", "extra"},
        {"add", "web", "8080"},
        {"add", "", "8080", "tcp"},
        {"add", "web", "0", "tcp"},
        {"add", "web", "65536", "tcp"},
        {"add", "web", "80x", "tcp"},
        {"add", "web", "8080:", "tcp"},
        {"add", "web", "8080", "sctp"},
        {"add", "web", "8080", "tcp", "192.168.1"},
        {"add", "web", "8080", "tcp", "--lease", "-5"},
        {"delete", "8080"},
        {"list", "--keep"},
        {"list", "--router"},
        {"list", "--colour"},
    };
    for (const auto& arguments : wrong) {
        std::string error;
        parsed(arguments, &error);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CommandLine, JsonTextsAreEscapedAndRowsKeepTheRoutersOddValues) {
    EXPECT_EQ(json_string("R&D \"lab\"\\\n\x01"), "\"R&D \\\"lab\\\"\\\\\\u000a\\u0001\"");
    quaymap::SearchOutcome router;
    router.kind = quaymap::RouterKind::igd2;
    const std::string json =
        list_json(router, {{"web", "TCP", "99999", "10.0.0.2", "", "abc"}}, quaymap::CommandResult());
    EXPECT_NE(json.find("\"kind\":\"igd2\""), std::string::npos);
    EXPECT_NE(json.find("\"external_port\":99999"), std::string::npos);
    EXPECT_NE(json.find("\"internal_port\":null,\"lease_seconds\":\"abc\""), std::string::npos);
    EXPECT_NE(json.find("\"complete\":true"), std::string::npos);
}
