// What keeping three mappings open costs over ten minutes: `quaymap-cli keep` (each mapping
// checked every minute, the router's announcements heard) next to what people run instead, a
// `sleep` loop of `upnpc -a` renewals, side by side on the same router. Each one's resident
// memory at its peak (its biggest process, looked at every second), and its processor time and
// voluntary context switches (its wakeups), children included, from the kernel's account as it
// ends. The account's own peak is no use here: a spawned program's starts at its spawner's.
#include "figures.h"
#include "lan_address.h"
#include "tables.h"

#include <filesystem>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

struct Cost {
    double rss_kib = kNone, cpu_ms = kNone, wakeups = kNone;
};

struct Row {
    double seconds;
    Cost keeper, loop;
};
std::vector<Row> rows;

void take(Fields& f) {
    Row r{};
    r.seconds = f.number();
    for (Cost* c : {&r.keeper, &r.loop})
        for (double* v : {&c->rss_kib, &c->cpu_ms, &c->wakeups})
            *v = f.number();
    rows.push_back(r);
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    const Row& r = rows.back();
    std::printf("\nKeeping three mappings open on IGD v2 for %s minutes, side by side: resident "
                "memory at the peak of its biggest process, and processor time and voluntary "
                "context switches (wakeups), children included.\n\n",
                fmt(r.seconds / 60, "%.0f").c_str());
    std::printf("| program | resident | processor time | wakeups |\n|---|---:|---:|---:|\n");
    const std::pair<const char*, const Cost*> programs[] = {
        {"`quaymap-cli keep` (each checked every minute)", &r.keeper},
        {"`upnpc -a` for each, then `sleep 60`, in a loop", &r.loop}};
    for (const auto& [name, c] : programs)
        std::printf("| %s | %s MiB | %s s | %s |\n", name, fmt(c->rss_kib / 1024, "%.2f").c_str(),
                    fmt(c->cpu_ms / 1000, "%.3f").c_str(), count(c->wakeups).c_str());
    targets.push_back({"`quaymap-cli keep` under 4 MiB resident (" +
                           fmt(r.keeper.rss_kib / 1024, "%.2f") + " MiB)",
                       r.keeper.rss_kib < 4096});
    targets.push_back({"`quaymap-cli keep` under 0.1 s of processor time in " +
                           fmt(r.seconds / 60, "%.0f") + " minutes (" +
                           fmt(r.keeper.cpu_ms / 1000, "%.3f") + " s)",
                       r.keeper.cpu_ms < 100});
}

pid_t launch(const std::vector<std::string>& argv, const std::string& env) {
    std::vector<char*> args, vars;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (char** e = environ; *e; ++e)
        vars.push_back(*e);
    vars.push_back(const_cast<char*>(env.c_str()));
    vars.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    for (const int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", O_RDWR, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0].c_str(), &quiet, nullptr, args.data(), vars.data()) != 0)
        die("cannot start " + argv[0]);
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
}

// The peak resident memory of a process and of its descendants, the biggest of them.
double peak_kib(pid_t pid) {
    double peak = 0;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string word; status >> word;)
        if (word == "VmHWM:" && status >> peak)
            break;
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    for (pid_t child; children >> child;)
        peak = std::max(peak, peak_kib(child));
    return peak;
}

// Stops a program (a keep deletes its mappings first) and reads what it cost.
Cost stop(pid_t pid, double peak) {
    kill(pid, SIGTERM);
    int status = 0;
    rusage used{};
    wait4(pid, &status, 0, &used);
    Cost c;
    c.rss_kib = peak;
    c.cpu_ms = (used.ru_utime.tv_sec + used.ru_stime.tv_sec) * 1000.0 +
               (used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1000.0;
    c.wakeups = static_cast<double>(used.ru_nvcsw);
    return c;
}

} // namespace

const Table keeper_table = {"@keeper", take, print};

int keeper_step(const Args& a) {
    if (a.cli.empty() || a.desc_url.empty() || a.seconds < 1)
        usage();
    const std::string router = a.desc_url.substr(7, a.desc_url.find(':', 7) - 7);
    const std::string self = quaymap::local_address_towards(router);
    char folder[] = "/tmp/quaymap-keeper-XXXXXX";
    if (!mkdtemp(folder))
        die("no scratch folder");
    const std::string file = std::string(folder) + "/keep.conf";
    std::ofstream(file) << "web 41000 tcp\ngame 41001 udp\nssh 41002 tcp\n";
    // What people write instead: each renewed every minute, discovery and all.
    std::string loop = "while :; do";
    for (const char* mapping : {"41100 41100 TCP", "41101 41101 UDP", "41102 41102 TCP"})
        loop += std::string(" ") + a.upnpc + " -e bench -a " + self + " " + mapping + " 120;";
    loop += " sleep 60; done";
    std::printf("both for %d s\n", a.seconds);
    const pid_t keeper = launch({a.cli, "keep", file}, std::string("XDG_STATE_HOME=") + folder);
    const pid_t peer = launch({"bash", "-c", loop}, "QUAYMAP_BENCH=1");
    double keeper_peak = 0, peer_peak = 0;
    for (int second = 0; second < a.seconds; ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        keeper_peak = std::max(keeper_peak, peak_kib(keeper));
        peer_peak = std::max(peer_peak, peak_kib(peer));
    }
    const Cost k = stop(keeper, keeper_peak), l = stop(peer, peer_peak);
    for (const char* port : {"41100 TCP", "41101 UDP", "41102 TCP"})
        if (std::system((a.upnpc + " -d " + port + " >/dev/null 2>&1").c_str()) != 0)
            std::fprintf(stderr, "keeper bench: could not delete %s again\n", port);
    std::filesystem::remove_all(folder);
    std::printf("%-10s %12s %16s %10s\n", "", "resident KiB", "processor ms", "wakeups");
    for (const auto& [name, c] : {std::pair{"keep", k}, {"upnpc loop", l}})
        std::printf("%-10s %12.0f %16.1f %10.0f\n", name, c.rss_kib, c.cpu_ms, c.wakeups);
    std::printf("@keeper %d %.0f %.1f %.0f %.0f %.1f %.0f\n", a.seconds, k.rss_kib, k.cpu_ms,
                k.wakeups, l.rss_kib, l.cpu_ms, l.wakeups);
    return 0;
}
