// Finding the lab router and reading its whole mapping table: QuayMap's client (in process)
// and, with --app, the whole application from process start to its last "the forwading name
// is" line, next to `upnpc -l` and next to the router's own answer time (each exchange timed
// raw, from connect to the router's close: what no client can go below). Runs inside the
// lab's LAN namespace; bench/upnp/run_lab_bench.sh sets that up. Prints figures only.
//
// Usage: upnp_lab_bench --desc-url URL [--runs N] [--upnpc PATH] [--app PATH]

#include "UpnpNat.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct Outcome {
    double ms = 0;
    size_t entries = 0;
    bool ok = false;
};

// The client's own diagnostics would swamp the figures: they go to /dev/null while it runs.
class QuietStdout {
  public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

  private:
    int saved_ = -1;
};

Outcome run_client(std::string* control_url = nullptr) {
    Outcome out;
    QuietStdout quiet;
    const Clock::time_point start = Clock::now();
    UpnpNat nat;
    nat.init(60);
    out.ok = nat.discovery() && nat.parse_description() && nat.get_port_mappings();
    out.ms = ms_since(start);
    out.entries = nat.mappings.size();
    if (control_url) {
        *control_url = nat.control_url;
    }
    return out;
}

// Runs a command with its output in a pipe; counts the mapping rows it lists.
Outcome run_upnpc(const std::vector<std::string>& argv) {
    Outcome out;
    int fds[2];
    if (pipe(fds) != 0) {
        return out;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    if (spawned == 0) {
        waitpid(pid, &status, 0);
    }
    out.ms = ms_since(start);
    out.ok = spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // Rows look like " 3 UDP 25565->192.168.87.20:25565 'Minecraft Server' '' 0".
    size_t at = 0;
    while ((at = text.find("->", at)) != std::string::npos) {
        const size_t line = text.rfind('\n', at);
        const std::string head = text.substr(line == std::string::npos ? 0 : line + 1,
                                             at - (line == std::string::npos ? 0 : line + 1));
        if (head.find(" TCP ") != std::string::npos || head.find(" UDP ") != std::string::npos) {
            ++out.entries;
        }
        at += 2;
    }
    return out;
}

// The application, started afresh: the time until it has printed the line of its last table
// row. It draws offscreen; the window itself is the demo's business.
Outcome run_app(const std::string& app, size_t expected) {
    Outcome out;
    int fds[2];
    if (expected == 0 || pipe(fds) != 0) {
        return out;
    }
    std::vector<std::string> env_texts;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) {
            env_texts.push_back(*e);
        }
    }
    env_texts.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> env;
    for (std::string& e : env_texts) {
        env.push_back(e.data());
    }
    env.push_back(nullptr);
    std::string app_path = app;
    char* args[] = {app_path.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args, env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return out;
    }
    static const std::string row_line = "the forwading name is ";
    std::string text;
    char buffer[4096];
    while (out.entries < expected && ms_since(start) < 30000) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) < 0) {
            break;
        }
        if (!(p.revents & (POLLIN | POLLHUP))) {
            continue;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
        out.entries = 0;
        for (size_t at = text.find(row_line); at != std::string::npos;
             at = text.find(row_line, at + 1)) {
            if ((at == 0 || text[at - 1] == '\n') && text.find('\n', at) != std::string::npos) {
                ++out.entries;
            }
        }
    }
    out.ms = ms_since(start);
    out.ok = out.entries == expected;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(fds[0]);
    return out;
}

bool split_url(const std::string& url, std::string& host, uint16_t& port, std::string& path) {
    return UpnpNat::parse_url(url, host, port, path);
}

// One raw HTTP exchange: connect, send, read until the router closes. Returns the answer.
bool raw_exchange(const std::string& host, uint16_t port, const std::string& request,
                  std::string& answer, double& ms) {
    answer.clear();
    const Clock::time_point start = Clock::now();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return false;
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) {
            break;
        }
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        answer.append(buffer, static_cast<size_t>(n));
    }
    ms = ms_since(start);
    close(fd);
    return !answer.empty();
}

// The time of the first SSDP answer to one search.
bool ssdp_round_trip(double& ms) {
    static const char search[] = "M-SEARCH * HTTP/1.1\r\nHOST:239.255.255.250:1900\r\n"
                                 "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                                 "Man:\"ssdp:discover\"\r\nMX:3\r\n\r\n";
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(1900);
    inet_pton(AF_INET, "239.255.255.250", &to.sin_addr);
    const Clock::time_point start = Clock::now();
    sendto(fd, search, sizeof search - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    const bool answered = poll(&p, 1, 5000) == 1;
    char buffer[4096];
    if (answered) {
        recv(fd, buffer, sizeof buffer, 0);
    }
    ms = ms_since(start);
    close(fd);
    return answered;
}

struct RouterTime {
    double ms = 0;
    double ssdp_ms = 0;
    double description_ms = 0;
    int exchanges = 0;
    bool ok = false;
};

// The exchanges the client makes, each timed on its own: SSDP, the description, then every
// index up to the router's refusal.
RouterTime router_time(const std::string& desc_url, const std::string& control_url) {
    RouterTime out;
    std::string host, path, answer;
    uint16_t port = 0;
    double ms = 0;
    if (!ssdp_round_trip(ms)) {
        return out;
    }
    out.ms += ms;
    out.ssdp_ms = ms;
    ++out.exchanges;
    if (!split_url(desc_url, host, port, path)) {
        return out;
    }
    const std::string get = "GET " + path + " HTTP/1.1\r\nHost: " + host + ":" +
                            std::to_string(port) + "\r\nConnection: close\r\n\r\n";
    if (!raw_exchange(host, port, get, answer, ms)) {
        return out;
    }
    out.ms += ms;
    out.description_ms = ms;
    ++out.exchanges;
    if (!split_url(control_url, host, port, path)) {
        return out;
    }
    for (int index = 0; index < UpnpNat::kIndexCap; ++index) {
        const std::string body =
            "<?xml version=\"1.0\"?>\r\n<s:Envelope "
            "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
            "<u:GetGenericPortMappingEntry xmlns:u=\"" +
            std::string(SERVICE_WANIP) + "\"><NewPortMappingIndex>" + std::to_string(index) +
            "</NewPortMappingIndex></u:GetGenericPortMappingEntry></s:Body></s:Envelope>\r\n";
        const std::string post =
            "POST " + path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
            "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"
            "SOAPAction: \"" +
            std::string(SERVICE_WANIP) +
            "#GetGenericPortMappingEntry\"\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body;
        if (!raw_exchange(host, port, post, answer, ms)) {
            return out;
        }
        out.ms += ms;
        ++out.exchanges;
        if (answer.compare(0, 12, "HTTP/1.1 200") != 0) {
            out.ok = true; // the refusal that ends the table
            return out;
        }
    }
    return out;
}

// The search goes to the multicast group: only ever from inside the lab's LAN namespace.
bool inside_lab_namespace() {
    struct stat own {};
    struct stat lab {};
    return stat("/proc/self/ns/net", &own) == 0 && stat("/run/netns/quaymap-lan", &lab) == 0 &&
           own.st_ino == lab.st_ino && own.st_dev == lab.st_dev;
}

void usage() {
    std::fprintf(stderr,
                 "usage: upnp_lab_bench --desc-url URL [--runs N] [--upnpc PATH] [--app PATH]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    std::string desc_url;
    std::string upnpc = "upnpc";
    std::string app;
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--desc-url" && i + 1 < argc) {
            desc_url = argv[++i];
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--upnpc" && i + 1 < argc) {
            upnpc = argv[++i];
        } else if (arg == "--app" && i + 1 < argc) {
            app = argv[++i];
        } else {
            usage();
        }
    }
    if (desc_url.empty() || runs < 1) {
        usage();
    }
    if (!inside_lab_namespace()) {
        std::fprintf(stderr, "lab bench: run me inside the lab (bench/upnp/run_lab_bench.sh)\n");
        return 2;
    }

    // A warm-up round that also checks every side sees the same table.
    std::string control_url;
    const Outcome warm_client = run_client(&control_url);
    const Outcome warm_upnpc = run_upnpc({upnpc, "-l"});
    if (!warm_client.ok || !warm_upnpc.ok) {
        std::fprintf(stderr, "lab bench: %s failed in the warm-up run\n",
                     warm_client.ok ? "upnpc -l" : "the client");
        return 1;
    }
    const size_t entries = warm_upnpc.entries;
    if (warm_client.entries != entries) {
        std::printf("note: the client listed %zu mappings, upnpc -l %zu\n", warm_client.entries,
                    entries);
    }
    if (!app.empty() && !run_app(app, entries).ok) {
        std::fprintf(stderr, "lab bench: the application did not list %zu mappings\n", entries);
        return 1;
    }

    std::vector<double> client_ms, app_ms, upnpc_ms, upnpc_u_ms, router_ms, ssdp_ms, description_ms,
        beyond_ms;
    int exchanges = 0;
    for (int run = 0; run < runs; ++run) {
        // Take turns at going first, so that none always meets a router fresh from another.
        Outcome c, a, u;
        std::vector<std::pair<Outcome*, int>> order = {{&c, 0}, {&u, 1}};
        if (!app.empty()) {
            order.push_back({&a, 2});
        }
        std::rotate(order.begin(), order.begin() + run % order.size(), order.end());
        for (const auto& [outcome, who] : order) {
            *outcome = who == 0   ? run_client()
                       : who == 1 ? run_upnpc({upnpc, "-l"})
                                  : run_app(app, entries);
        }
        const Outcome uu = run_upnpc({upnpc, "-u", desc_url, "-l"});
        const RouterTime r = router_time(desc_url, control_url);
        if (!c.ok || !u.ok || !uu.ok || !r.ok || (!app.empty() && !a.ok)) {
            std::fprintf(stderr,
                         "lab bench: run %d failed (client %d, app %d, upnpc %d, router "
                         "%d)\n",
                         run + 1, c.ok, a.ok, u.ok, r.ok);
            return 1;
        }
        client_ms.push_back(c.ms);
        app_ms.push_back(a.ms);
        upnpc_ms.push_back(u.ms);
        upnpc_u_ms.push_back(uu.ms);
        router_ms.push_back(r.ms);
        ssdp_ms.push_back(r.ssdp_ms);
        description_ms.push_back(r.description_ms);
        beyond_ms.push_back(c.ms - r.ms);
        exchanges = r.exchanges;
        std::printf("run %d: client %.1f ms", run + 1, c.ms);
        if (!app.empty()) {
            std::printf(", application %.1f ms", a.ms);
        }
        std::printf(", upnpc -l %.1f ms, upnpc -u -l %.1f ms, router %.1f ms\n", u.ms, uu.ms, r.ms);
    }

    const double client = median(client_ms);
    const double upnpc_l = median(upnpc_ms);
    const double router = median(router_ms);
    std::printf("\nDiscovery + description + full listing, %zu mappings, medians of %d runs\n",
                entries, runs);
    std::printf("  %-34s %9.1f ms\n", "QuayMap client (in process)", client);
    if (!app.empty()) {
        std::printf("  %-34s %9.1f ms  (process start to its last table row)\n",
                    "QuayMap application", median(app_ms));
    }
    std::printf("  %-34s %9.1f ms\n", "upnpc -l", upnpc_l);
    std::printf("  %-34s %9.2f\n", "ratio client / upnpc -l", upnpc_l > 0 ? client / upnpc_l : 0);
    if (!app.empty()) {
        std::printf("  %-34s %9.2f\n", "ratio application / upnpc -l",
                    upnpc_l > 0 ? median(app_ms) / upnpc_l : 0);
    }
    std::printf("  %-34s %9.1f ms  (no discovery: for reference)\n", "upnpc -u URL -l",
                median(upnpc_u_ms));
    std::printf("  %-34s %9.1f ms  (%d exchanges: SSDP %.1f, description %.1f, %d entry "
                "requests %.1f)\n",
                "router's own answer time", router, exchanges, median(ssdp_ms),
                median(description_ms), exchanges - 2,
                router - median(ssdp_ms) - median(description_ms));
    // The router's time is taken in the same run as the client's; the difference is taken
    // run by run, then its median.
    const double beyond = median(beyond_ms);
    std::printf("  %-34s %9.1f ms  (%.2f ms per exchange)\n", "client's time beyond the router",
                beyond, exchanges ? beyond / exchanges : 0.0);
    // One line for run_lab_bench.sh's table across table sizes.
    std::printf("table-row %zu %.1f %.1f %.1f %.1f\n", entries, client,
                app.empty() ? -1.0 : median(app_ms), upnpc_l, router);
    return 0;
}
