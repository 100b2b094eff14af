// quaymap-cli's reading of its arguments and its JSON; its commands on a router: see the lab.
#include "options.h"
#include "output.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace quaymap_cli;

static std::string error; // why parse() found the command line wrong; empty when it was right

// Reads a command line whose arguments are split at each space (two in a row: an empty one).
static Options parse(const std::string& line) {
    std::vector<std::string> arguments;
    std::istringstream words(line);
    for (std::string word; std::getline(words, word, ' ');)
        arguments.push_back(word);
    Options options;
    error.clear();
    const bool ok = parse_options(arguments, options, error);
    EXPECT_EQ(ok, error.empty()) << line << ": " << error;
    return options;
}

TEST(CommandLine, ReadsEachCommandWithOptionsAnywhere) {
    const Options add =
        parse("add SSH 2222:22 tcp 192.168.1.20 --json --lease 3600 --keep --router http://a/d");
    EXPECT_TRUE(add.command == Command::add && add.json && add.keep);
    EXPECT_EQ(add.name + " " + add.address + " " + add.router_url, "SSH 192.168.1.20 http://a/d");
    EXPECT_EQ(std::vector<int64_t>({add.external_port, add.internal_port, add.lease}),
              std::vector<int64_t>({2222, 22, 3600}));
    EXPECT_EQ(add.protocols, std::vector<std::string>{"TCP"});
    EXPECT_EQ(parse("delete 25565 Both").command, Command::remove);
    EXPECT_EQ(parse("delete 25565 Both").protocols, (std::vector<std::string>{"TCP", "UDP"}));
    EXPECT_EQ(parse("--verbose list").command, Command::list);
    EXPECT_EQ(parse("status --help").command, Command::help);
}

TEST(CommandLine, RefusesWhatCannotBeRightBeforeAnythingIsSent) {
    for (const char* line :
         {"", "open", "status extra", "add web 8080", "add  8080 tcp", "add web 0 tcp",
          "add web 65536 tcp", "add web 80x tcp", "add web 8080: tcp", "add web 8080 sctp",
          "add web 8080 tcp 192.168.1", "add web 8080 tcp --lease -5", "delete 8080", "list --keep",
          "list --router", "list --colour"}) {
        parse(line);
        EXPECT_FALSE(error.empty()) << line;
    }
}

TEST(CommandLine, JsonTextsAreEscapedAndRowsKeepTheRoutersOddValues) {
    EXPECT_EQ(json_string("R&D \"lab\"\\\n\x01\x1f"),
              "\"R&D \\\"lab\\\"\\\\\\u000a\\u0001\\u001f\"");
    const quaymap::SearchOutcome router{quaymap::RouterKind::igd2, "", "", "", "", "", {}};
    const std::string json =
        list_json(router, {{"web", "TCP", "99999", "10.0.0.2", "", "abc"}}, {});
    for (const char* part :
         {"\"kind\":\"igd2\"", "\"external_port\":99999",
          "\"internal_port\":null,\"lease_seconds\":\"abc\"", "\"complete\":true"})
        EXPECT_NE(json.find(part), std::string::npos) << part;
}
