// quaymap-cli's reading of its arguments, what it prints, and its adds and keep over a scripted
// engine; its commands on a real router: see the lab.
#include "options.h"
#include "output.h"
#include "steps.h"
#include "terminal.h"

#include "keep_file.h"

#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
    const Options keep = parse("keep --check /etc/quaymap/keep.conf");
    EXPECT_TRUE(keep.command == Command::keep && keep.check &&
                keep.keep_file == "/etc/quaymap/keep.conf");
    EXPECT_EQ(parse("forget 8080 udp").protocols, std::vector<std::string>{"UDP"});
}

TEST(CommandLine, RefusesWhatCannotBeRightBeforeAnythingIsSent) {
    for (const char* line : {"",
                             "open",
                             "status extra",
                             "add web 8080",
                             "add  8080 tcp",
                             "add web 0 tcp",
                             "add web 65536 tcp",
                             "add web 80x tcp",
                             "add web 8080: tcp",
                             "add web 8080 sctp",
                             "add web 8080 tcp 192.168.1",
                             "add web 8080 tcp --lease -5",
                             "delete 8080",
                             "list --keep",
                             "list --router",
                             "list --router router.local",
                             "list --colour",
                             "keep",
                             "keep a b",
                             "--check list",
                             "forget 8080",
                             "--json keep f",
                             "--json forget 1 tcp"}) {
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
    const quaymap::Mapping row{"\x1b[2Jweb", "TCP", "8081", "10.0.0.2", "8080", "7200"};
    // Columns line up by characters: the arrow is three bytes, an escape four characters; what
    // QuayMap's record says of a row gets a column only when it says anything.
    EXPECT_EQ(list_text({row, {"ssh\xe9", "UDP", "22", "10.0.0.3", "22", "0"}}, {"", ""}),
              "PORT          PROTOCOL  INTERNAL               LEASE      NAME\n"
              "8081 \u2192 8080   TCP       10.0.0.2:8080          2 h 0 min  \\x1b[2Jweb\n"
              "22            UDP       10.0.0.3:22            permanent  ssh\uFFFD\n");
    EXPECT_NE(list_text({row}, {"made here"})
                  .find("LEASE      QUAYMAP    NAME\n8081 \u2192 8080   TCP       10.0.0.2:8080    "
                        "      2 h 0 min  made here  \\x1b[2Jweb"),
              std::string::npos)
        << list_text({row}, {"made here"});
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
        list_json(router, {{"web", "TCP", "99999", "10.0.0.2", "", "abc"}}, {}, {"kept"});
    for (const char* part :
         {"\"kind\":\"igd2\"", "\"external_port\":99999",
          "\"internal_port\":null,\"lease_seconds\":\"abc\",\"quaymap\":\"kept\"",
          "\"complete\":true,\"unread\":[]"})
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

using namespace quaymap;

// Grants each add for 600 s, unless `refused` names the call ("add 27015/UDP"); records each
// call ("add 27015/TCP"), then runs `during`. The record holds `record`.
struct Script : Engine {
    std::string calls;
    std::set<std::string> refused;
    std::function<void(const std::string&)> during = [](const std::string&) {};
    std::vector<RecordEntry> record;

    CommandResult call(const std::string& what, Mapping row) {
        const std::string name = what + " " + row.external_port + "/" + row.protocol;
        calls += (calls.empty() ? "" : ", ") + name, during(name);
        CommandResult result;
        result.verdict = refused.count(name) ? Verdict::refused : Verdict::done;
        return result.row = row, result.held = true, result;
    }
    CommandResult add(const AddRequest& r) override {
        const std::string port = std::to_string(r.external_port);
        return call("add", {r.name, r.protocol, port, "10.0.0.2", port, "600"});
    }
    CommandResult renew(const Mapping& row) override { return call("renew", row); }
    CommandResult remove(const Mapping& row) override { return call("delete", row); }
    CommandResult check(const Mapping& row) override { return call("check", row); }
    std::vector<RecordEntry> recorded() override { return record; }
    SearchOutcome search(const SearchOptions&) override { return {}; }
    CommandResult list(const RowSink&) override { return {}; }
    CommandResult public_address() override { return {}; }
};

// A keep's time that wakes as `wakes` says, one by one (a stop once they are used up), running
// `then` before each; when due, the clock jumps to the moment asked for.
struct Wakes {
    Clock::time_point now{};
    std::vector<std::pair<Wake, std::function<void()>>> wakes;
    KeepTime time() {
        return {{[this] { return now; }, [] { return 0.5; }},
                [this](std::optional<Clock::time_point> until, int) {
                    if (wakes.empty())
                        return Wake::stop;
                    auto [wake, then] = wakes.front();
                    wakes.erase(wakes.begin());
                    if (wake == Wake::due && until)
                        now = *until;
                    if (then)
                        then();
                    return wake;
                },
                [] { return false; }};
    }
};

} // namespace

TEST(KeepFile, EachLineIsAnAddAndAWrongOneIsNamedByItsLine) {
    std::vector<Kept> kept;
    std::string error;
    ASSERT_TRUE(
        read_keep_text("# the server's ports\n\n\"Minecraft Server\" 25565 both # game\n"
                       "SSH 2222:22 tcp 192.168.1.20 --lease 3600\n'R&D'\\ \"\\\"x\\\"\" 80 udp\n",
                       "/k", kept, error))
        << error;
    std::string read;
    for (const Kept& k : kept)
        read += k.request.name + "|" + Keeper::key(k.request) + "|" +
                std::to_string(k.request.internal_port) + k.request.internal_client + "|" +
                std::to_string(k.request.lease) + k.request.keep_file + (k.owned ? "" : "?") + "; ";
    EXPECT_EQ(read, "Minecraft Server|25565/TCP|0|-1/k; Minecraft Server|25565/UDP|0|-1/k; "
                    "SSH|2222/TCP|22192.168.1.20|3600/k; R&D \"x\"|80/UDP|0|-1/k; ");
    for (const auto& [text, why] : std::vector<std::pair<std::string, std::string>>{
             {"a 1 tcp\n\"open 2 tcp\n", "/k:2: a quote is left open"},
             {"x 0 tcp", "/k:1: not a port (1-65535): 0"},
             {"x 1 tcp --json", "/k:1: only --lease may follow a mapping"},
             {"x 1 tcp --keep", "/k:1: only --lease may follow a mapping"},
             {"x 1 tcp\n# \ny 1 both", "/k:3: 1/TCP is kept by line 1 already"},
             {"x 1", "/k:1: add takes NAME PORT[:INTERNAL_PORT] tcp|udp|both [ADDRESS]"}}) {
        EXPECT_FALSE(read_keep_text(text, "/k", kept, error));
        EXPECT_EQ(error, why);
    }
}

TEST(Keep, AFileIsKeptAsItChangesAndWhatItAddedGoesAtTheEnd) {
    char name[] = "/tmp/quaymap-keep-XXXXXX";
    const std::string file = (::close(::mkstemp(name)), name);
    const auto write = [&](const std::string& text) { std::ofstream(file) << text; };
    write("web 8080 tcp\nssh 22 tcp\n");
    // The record: a mapping kept from the window, kept too but never deleted, and one this file
    // kept when the keep last ran, which it holds no more.
    Script router;
    router.record = {{"r", "igd2", 443, 443, "TCP", "10.0.0.2", "tls", 600, 0, true, "", "", ""},
                     {"r", "igd2", 53, 53, "UDP", "10.0.0.2", "dns", 600, 0, true, file, "", ""}};
    // A notify socket as systemd has it, and a watchdog that wants a word every 20 s.
    const std::string socket = file + ".notify";
    const int notified = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un at{AF_UNIX, {}};
    std::strcpy(at.sun_path, socket.c_str());
    ::bind(notified, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::setenv("NOTIFY_SOCKET", socket.c_str(), 1);
    ::setenv("WATCHDOG_USEC", "40000000", 1);
    Wakes w;
    w.wakes = {
        {Wake::reload, [&] { write("web 8080 tcp\n\"open\n"); }}, // a wrong file: kept as was
        {Wake::reload, [&] { write("web 8080 tcp\ngame 27015 udp\n"); }},
        {Wake::due, {}}, // the watchdog's moment comes before the first check's
        {Wake::stop, {}}};
    EXPECT_EQ(keep_file(router, {RouterKind::igd2, "", "", "", "", "", {}}, file, w.time()), 0);
    EXPECT_EQ(router.calls, "delete 53/UDP, add 8080/TCP, add 22/TCP, add 443/TCP, "
                            "delete 22/TCP, add 27015/UDP, delete 8080/TCP, delete 27015/UDP");
    EXPECT_EQ(w.now, Clock::time_point{} + 20s);
    std::string said;
    char datagram[256];
    for (ssize_t n; (n = ::recv(notified, datagram, sizeof datagram, MSG_DONTWAIT)) > 0;)
        said += std::string(datagram, n) + "|";
    EXPECT_EQ(said, "READY=1\nSTATUS=3 mappings held, next renewal in 5 min|WATCHDOG=1|"
                    "STOPPING=1\nSTATUS=deleting the mappings kept|");
    ::unsetenv("NOTIFY_SOCKET"), ::unsetenv("WATCHDOG_USEC");
    ::close(notified), ::unlink(name), ::unlink(socket.c_str());
}

TEST(Keep, AddKeepKeepsTheMappingsAddedAsAWhole) {
    const Options both = parse("add game 27015 both --keep");
    // The router refuses UDP: the TCP half goes again, and the refusal is the exit status.
    Script refused;
    refused.refused = {"add 27015/UDP"};
    Wakes w;
    EXPECT_EQ(run_steps(refused, both, {}, w.time()), kExitRefused);
    EXPECT_EQ(refused.calls, "add 27015/TCP, add 27015/UDP, delete 27015/TCP");
    // A SIGTERM while the router adds TCP: UDP is never asked for, and TCP goes again.
    Script stopped;
    stopped.during = [](const std::string& call) {
        (void)(call == "add 27015/TCP" && raise(SIGTERM));
    };
    EXPECT_EQ(run_steps(stopped, both, {}), 0);
    EXPECT_EQ(stopped.calls, "add 27015/TCP, delete 27015/TCP");
    sigset_t pending;
    EXPECT_EQ((sigpending(&pending), sigismember(&pending, SIGTERM)), 0); // the stop was taken
}
