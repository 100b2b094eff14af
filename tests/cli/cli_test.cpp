// quaymap-cli's reading of its arguments, what it prints, and its adds and keep over a scripted
// engine; its commands on a real router: see the lab.
#include "options.h"
#include "output.h"
#include "steps.h"
#include "terminal.h"

#include <csignal>
#include <gtest/gtest.h>
#include <set>
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
    EXPECT_EQ(parse("status --router 192.168.1.2").router_address, "192.168.1.2");
    EXPECT_EQ(parse("status --router fe80::1").router_address, "fe80::1");
}

TEST(CommandLine, RefusesWhatCannotBeRightBeforeAnythingIsSent) {
    for (const char* line :
         {"", "open", "status extra", "add web 8080", "add  8080 tcp", "add web 0 tcp",
          "add web 65536 tcp", "add web 80x tcp", "add web 8080: tcp", "add web 8080 sctp",
          "add web 8080 tcp 192.168.1", "add web 8080 tcp --lease -5", "delete 8080", "list --keep",
          "list --router", "list --router router.local", "list --colour"}) {
        parse(line);
        EXPECT_FALSE(error.empty()) << line;
    }
}

TEST(Output, StatusNamesEveryRouterFoundTheOneUsedFirst) {
    quaymap::SearchOutcome found{
        quaymap::RouterKind::igd2, "Lab", "192.168.1.1", "192.168.1.20", "", "", {}};
    found.routers = {{quaymap::RouterKind::igd1, "Attic\x1b", "192.168.1.2"},
                     {quaymap::RouterKind::igd2, "Lab", "192.168.1.1"}};
    EXPECT_NE(status_text(found).find("\nalso found: Attic\\x1b (UPnP IGD v1) at 192.168.1.2\n"),
              std::string::npos);
    EXPECT_NE(status_json(found).find(
                  "\"routers\":[{\"kind\":\"igd2\",\"name\":\"Lab\",\"address\":\"192.168.1.1\"},"
                  "{\"kind\":\"igd1\",\"name\":\"Attic\\u001b\",\"address\":\"192.168.1.2\"}]"),
              std::string::npos)
        << status_json(found);
}

TEST(Output, RouterTextNeverActsOnTheTerminalAndJsonIsAlwaysUtf8) {
    // What the router wrote; as text output; as a JSON string.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"Caf\u00e9 \"R&D\"\\", "Caf\u00e9 \"R&D\"\\", "\"Caf\u00e9 \\\"R&D\\\"\\\\\""},
        {"\x1b]0;x\a\n\x7f\u009b", "\\x1b]0;x\\x07\\x0a\\x7f\\x9b",
         "\"\\u001b]0;x\\u0007\\u000a\\u007f\\u009b\""},
        {"Caf\xe9\xc0\xaf\xe2\x82", "Caf\uFFFD\uFFFD\uFFFD\uFFFD",
         "\"Caf\uFFFD\uFFFD\uFFFD\uFFFD\""},
    };
    for (const auto& [text, shown, json] : cases) {
        EXPECT_EQ(terminal_text(text), shown);
        EXPECT_EQ(json_string(text), json);
    }
    const MappingRecord row{"\x1b[2Jweb", "TCP", "8081", "10.0.0.2", "8080", "7200"};
    // Columns line up by characters: the arrow is three bytes, an escape four characters.
    EXPECT_EQ(list_text({row, {"ssh\xe9", "UDP", "22", "10.0.0.3", "22", "0"}}),
              "PORT          PROTOCOL  INTERNAL               LEASE      NAME\n"
              "8081 \u2192 8080   TCP       10.0.0.2:8080          2 h 0 min  \\x1b[2Jweb\n"
              "22            UDP       10.0.0.3:22            permanent  ssh\uFFFD\n");
    // A NAT-PMP gateway may grant another port than the one asked for.
    quaymap::CommandResult granted;
    granted.row = row;
    EXPECT_EQ(step_text(true, {"TCP", 8080, granted}),
              "added 8081/TCP (asked for 8080) -> 10.0.0.2:8080 (\\x1b[2Jweb, lease 2 h 0 min)\n");
    TerminalFilter trace; // the protocol trace, in pieces that split a character and a line end
    std::string traced;
    for (const char* piece : {"a\xc3", "\xa9\r", "\n\x1b", ""})
        traced += *piece ? trace.take(piece) : trace.finish();
    EXPECT_EQ(traced, "a\u00e9\n\\x1b");
}

TEST(CommandLine, JsonRowsKeepTheRoutersOddValues) {
    const quaymap::SearchOutcome router{quaymap::RouterKind::igd2, "", "", "", "", "", {}};
    const std::string json =
        list_json(router, {{"web", "TCP", "99999", "10.0.0.2", "", "abc"}}, {});
    for (const char* part :
         {"\"kind\":\"igd2\"", "\"external_port\":99999",
          "\"internal_port\":null,\"lease_seconds\":\"abc\"", "\"complete\":true,\"unread\":[]"})
        EXPECT_NE(json.find(part), std::string::npos) << part;
    quaymap::CommandResult partly;
    partly.unread = {{1, "", 0, "A"}, {-1, "UDP", 9, "B"}};
    EXPECT_NE(list_json(router, {}, partly)
                  .find("\"complete\":false,\"unread\":[{\"entry\":2,\"reason\":\"A\"},{\"entry\":"
                        "null,\"protocol\":\"UDP\",\"first_port\":9,\"reason\":\"B\"}]}"),
              std::string::npos);
}

namespace {

using namespace std::chrono_literals;

// Grants each add for 600 s and each renewal for 120 s, unless `refused` names the call ("add
// 27015/UDP"); records each call, then runs `during`.
struct Script : quaymap::Engine {
    using Hook = std::function<void(const std::string&)>;
    explicit Script(
        std::set<std::string> no, Hook hook = [](const std::string&) {})
        : refused(std::move(no)), during(std::move(hook)) {}
    std::string calls; // "add 27015/TCP, delete 27015/TCP"
    std::set<std::string> refused;
    Hook during;

    quaymap::CommandResult call(const std::string& what, MappingRecord row) {
        const std::string name = what + " " + row.external_port + "/" + row.protocol;
        calls += (calls.empty() ? "" : ", ") + name, during(name);
        quaymap::CommandResult result;
        result.verdict = refused.count(name) ? quaymap::Verdict::refused : quaymap::Verdict::done;
        return result.row = row, result;
    }
    quaymap::CommandResult add(const quaymap::AddRequest& r) override {
        const std::string port = std::to_string(r.external_port);
        return call("add", {r.name, r.protocol, port, "10.0.0.2", port, "600"});
    }
    quaymap::CommandResult renew(const MappingRecord& row) override {
        return call("renew", {row.description, row.protocol, row.external_port, "", "", "120"});
    }
    quaymap::CommandResult remove(const MappingRecord& row) override { return call("delete", row); }
    quaymap::SearchOutcome search(const quaymap::SearchOptions&) override { return {}; }
    quaymap::CommandResult list(const quaymap::RowSink&) override { return {}; }
    quaymap::CommandResult public_address() override { return {}; }
};

} // namespace

TEST(Keep, KeptMappingsComeAndGoAsAWholeRenewedAtHalfTheirLease) {
    const Options both = parse("add game 27015 both --keep");
    // The router refuses UDP: the TCP half goes again, and the refusal is the exit status.
    Script refused({"add 27015/UDP"});
    EXPECT_EQ(run_steps(refused, both, {}), kExitRefused);
    EXPECT_EQ(refused.calls, "add 27015/TCP, add 27015/UDP, delete 27015/TCP");
    // A SIGTERM while the router adds TCP: UDP is never asked for, and TCP goes again.
    Script stopped(
        {}, [](const std::string& call) { (void)(call == "add 27015/TCP" && raise(SIGTERM)); });
    EXPECT_EQ(run_steps(stopped, both, {}), 0);
    EXPECT_EQ(stopped.calls, "add 27015/TCP, delete 27015/TCP"); // SIGTERM taken, none pending
    // On the keep's clock: at half of 600 s, a minute after a refusal, none once a stop is due.
    Clock::time_point now{};
    bool stop = false;
    Script kept({"renew 27015/UDP"});
    kept.during = [&](const std::string& call) {
        kept.calls += " at " + std::to_string((now - Clock::time_point{}) / 1s);
        stop = stop || (call == "renew 27015/TCP" && now > Clock::time_point{300s});
    };
    const auto wait = [&](std::optional<Clock::time_point> until) {
        return now = stop || !until ? now : *until, stop;
    };
    EXPECT_EQ(run_steps(kept, both, {}, {[&] { return now; }, wait, [&] { return stop; }}), 0);
    EXPECT_EQ(kept.calls, "add 27015/TCP at 0, add 27015/UDP at 0, renew 27015/TCP at 300, "
                          "renew 27015/UDP at 300, renew 27015/TCP at 360, "
                          "delete 27015/TCP at 360, delete 27015/UDP at 360");
}
