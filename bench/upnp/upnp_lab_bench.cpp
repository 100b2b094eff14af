// QuayMap against miniupnpd in the lab, each figure next to its peer taken in the same run:
//
//   listing   quaymap-cli list and the window (process start to the last table row) next to
//             `upnpc -l` and to the router's own floor; quaymap-cli --router URL list next to
//             `upnpc -u URL -l`; on an IGD v2 router also the client's GetListOfPortMappings
//             pages next to the index walk, in process
//   verdict   how long quaymap-cli status and the window's search take to their outcome
//   gone      add, delete and public address on a router that vanished after it was found
//   summary   the README's tables from the result lines the other steps printed
//
// Every step but summary talks to the router, so it refuses to run outside the lab's LAN
// namespace; bench/upnp/run_lab_bench.sh sets that up. Prints figures only.
//
// Usage:
//   upnp_lab_bench listing --mode igd|igd2 --desc-url URL --expect N --cli PATH [--app PATH]
//                          [--runs R] [--upnpc PATH] [--router-log PATH]
//   upnp_lab_bench verdict --mode igd|natpmp|none --cli PATH [--app PATH] [--runs R]
//   upnp_lab_bench gone --lab PATH [--runs R]
//   upnp_lab_bench summary FILE

#include "RouterEngine.h"
#include "UpnpNat.h"
#include "explain.h"
#include "log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A figure not taken (the window left out).
const double kNone = std::nan("");

double median(std::vector<double> values) {
    if (values.empty())
        return kNone;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

[[noreturn]] void die(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "lab bench: %s\n", text.c_str());
    std::exit(1);
}

// ---------------------------------------------------------------------------------------------
// Child processes

// What a program did: how long from its start to its exit (or to the moment the caller's
// condition held, after which it is ended), and everything it wrote.
struct Spawned {
    double ms = 0;
    bool met = false; // the condition held
    bool exited = false;
    int exit_code = -1;
    // Its processor time: in the lab the router shares the machine's cores with it.
    double cpu_ms = 0;
    std::string out, err;
};

// Decides, from what the program wrote so far, that the moment to time has come.
using Until = std::function<bool(const std::string& out, const std::string& err)>;

Spawned spawn_timed(const std::vector<std::string>& argv, const std::vector<std::string>& env_set,
                    const Until& until, int limit_ms) {
    Spawned result;
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        die("no pipe");
    std::vector<std::string> env_texts;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::string name(*e, eq ? static_cast<size_t>(eq - *e) : std::strlen(*e));
        bool replaced = false;
        for (const std::string& s : env_set)
            replaced = replaced || s.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            env_texts.push_back(*e);
    }
    env_texts.insert(env_texts.end(), env_set.begin(), env_set.end());
    std::vector<char*> env;
    for (std::string& e : env_texts)
        env.push_back(e.data());
    env.push_back(nullptr);
    std::vector<std::string> arg_texts = argv;
    std::vector<char*> args;
    for (std::string& a : arg_texts)
        args.push_back(a.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawned != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        die("cannot start " + argv[0]);
    }
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_pipes = 2;
    char buffer[65536];
    while (open_pipes > 0) {
        const double left = limit_ms - ms_since(start);
        if (left <= 0)
            break;
        if (poll(fds, 2, static_cast<int>(left) + 1) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
        }
        if (until && until(result.out, result.err)) {
            result.ms = ms_since(start);
            result.met = true;
            break;
        }
    }
    int status = 0;
    rusage usage{};
    if (!result.met && open_pipes == 0) {
        // Both pipes closed: the program is ending; its exit is the moment timed.
        wait4(pid, &status, 0, &usage);
        result.ms = ms_since(start);
        result.exited = true;
    } else {
        if (!result.met)
            result.ms = ms_since(start);
        kill(pid, SIGTERM);
        pid_t reaped = 0;
        for (int i = 0; i < 50 && (reaped = wait4(pid, &status, WNOHANG, &usage)) == 0; ++i)
            usleep(20000);
        if (reaped == 0) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
        }
    }
    result.cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    for (pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    if (result.exited && WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    return result;
}

// Rows of `upnpc -l`, such as " 3 UDP 25565->192.168.87.20:25565 'Minecraft Server' '' 0".
size_t upnpc_rows(const std::string& text) {
    size_t rows = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.find("->") != std::string::npos &&
            (line.find(" TCP ") != std::string::npos || line.find(" UDP ") != std::string::npos))
            ++rows;
    return rows;
}

// quaymap-cli list prints a heading, then one line per mapping.
size_t cli_rows(const std::string& text) {
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    return lines ? lines - 1 : 0;
}

// The window prints one "the forwading name is ..." line per table row; counted as the text
// grows, so that a long table does not make the condition quadratic.
class RowCounter {
  public:
    explicit RowCounter(size_t expected) : expected_(expected) {}
    bool operator()(const std::string& out, const std::string&) {
        static const std::string head = "the forwading name is ";
        for (size_t end; (end = out.find('\n', scanned_)) != std::string::npos; scanned_ = end + 1)
            if (out.compare(scanned_, head.size(), head) == 0)
                ++*rows_;
        return *rows_ >= expected_;
    }
    std::shared_ptr<size_t> rows() const { return rows_; }

  private:
    size_t expected_;
    size_t scanned_ = 0;
    std::shared_ptr<size_t> rows_ = std::make_shared<size_t>(0);
};

constexpr int kProcessLimitMs = 30000;
const std::vector<std::string> kOffscreen = {"QT_QPA_PLATFORM=offscreen"};

// ---------------------------------------------------------------------------------------------
// The router's own floor: each exchange a listing needs, timed raw.

bool raw_exchange(const std::string& host, uint16_t port, const std::string& request,
                  std::string& answer, double& ms) {
    answer.clear();
    const Clock::time_point start = Clock::now();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
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
        if (poll(&p, 1, 10000) <= 0)
            break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    ms = ms_since(start);
    close(fd);
    return !answer.empty();
}

// The first SSDP answer to the search QuayMap sends (both gateway versions in one burst).
bool ssdp_round_trip(double& ms) {
    static const char* const searches[] = {
        "M-SEARCH * HTTP/1.1\r\nHOST:239.255.255.250:1900\r\n"
        "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
        "Man:\"ssdp:discover\"\r\nMX:3\r\n\r\n",
        "M-SEARCH * HTTP/1.1\r\nHOST:239.255.255.250:1900\r\n"
        "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:2\r\n"
        "Man:\"ssdp:discover\"\r\nMX:3\r\n\r\n"};
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(1900);
    inet_pton(AF_INET, "239.255.255.250", &to.sin_addr);
    const Clock::time_point start = Clock::now();
    for (const char* search : searches)
        sendto(fd, search, std::strlen(search), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    const bool answered = poll(&p, 1, 5000) == 1;
    char buffer[4096];
    if (answered)
        recv(fd, buffer, sizeof buffer, 0);
    ms = ms_since(start);
    close(fd);
    return answered;
}

std::string soap_request(const std::string& host, uint16_t port, const std::string& path,
                         const std::string& service, const std::string& action,
                         const std::string& arguments) {
    const std::string body = "<?xml version=\"1.0\"?>\r\n<s:Envelope "
                             "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                             "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
                             "<s:Body><u:" +
                             action + " xmlns:u=\"" + service + "\">" + arguments +
                             "</u:" + action + "></s:Body></s:Envelope>\r\n";
    return "POST " + path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
           "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nSOAPAction: \"" + service + "#" +
           action + "\"\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

bool status_200(const std::string& answer) {
    return answer.compare(0, 12, "HTTP/1.1 200") == 0 || answer.compare(0, 12, "HTTP/1.0 200") == 0;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

struct Floor {
    double ms = 0, ssdp_ms = 0, description_ms = 0;
    int exchanges = 0;
    size_t entries = 0;
    bool ok = false;
};

// The exchanges QuayMap's listing needs, each on its own, back to back: SSDP, the description,
// then on v1 every index up to the refused one, on v2 the look at index 128 and, when it holds
// nothing, the GetListOfPortMappings pages (TCP, then UDP, a further page only behind a full
// one), else the index walk.
Floor router_floor(const std::string& desc_url, const std::string& control_url,
                   const std::string& service, bool pages) {
    Floor out;
    std::string host, path, answer;
    uint16_t port = 0;
    double ms = 0;
    if (!ssdp_round_trip(ms))
        return out;
    out.ms += ms;
    out.ssdp_ms = ms;
    ++out.exchanges;
    if (!UpnpNat::parse_url(desc_url, host, port, path))
        return out;
    const std::string get = "GET " + path + " HTTP/1.1\r\nHost: " + host + ":" +
                            std::to_string(port) + "\r\nConnection: close\r\n\r\n";
    if (!raw_exchange(host, port, get, answer, ms))
        return out;
    out.ms += ms;
    out.description_ms = ms;
    ++out.exchanges;
    if (!UpnpNat::parse_url(control_url, host, port, path))
        return out;
    if (pages) {
        // A larger table in one page would crash the lab's miniupnpd.
        const std::string probe = "<NewPortMappingIndex>" + std::to_string(UpnpNat::kSafeListing) +
                                  "</NewPortMappingIndex>";
        if (!raw_exchange(
                host, port,
                soap_request(host, port, path, service, "GetGenericPortMappingEntry", probe),
                answer, ms))
            return out;
        out.ms += ms;
        ++out.exchanges;
        pages = !status_200(answer);
    }
    if (pages) {
        constexpr size_t kPage = 1000; // what QuayMap asks for per page
        for (const char* protocol : {"TCP", "UDP"}) {
            for (uint32_t start = 1;;) {
                const std::string args =
                    "<NewStartPort>" + std::to_string(start) +
                    "</NewStartPort><NewEndPort>65535</NewEndPort><NewProtocol>" + protocol +
                    "</NewProtocol><NewManage>1</NewManage><NewNumberOfPorts>" +
                    std::to_string(kPage) + "</NewNumberOfPorts>";
                if (!raw_exchange(
                        host, port,
                        soap_request(host, port, path, service, "GetListOfPortMappings", args),
                        answer, ms))
                    return out;
                out.ms += ms;
                ++out.exchanges;
                if (!status_200(answer))
                    break; // 730: nothing in this range
                // Escaped or not, each entry names its external port once.
                const size_t page = occurrences(answer, "NewExternalPort") / 2;
                out.entries += page;
                if (page < kPage)
                    break;
                // A full page: go on past its highest port, as QuayMap does.
                const size_t last = answer.rfind("NewExternalPort");
                const size_t open = answer.rfind("NewExternalPort", last - 1);
                const size_t digits = answer.find_first_of("0123456789", open);
                start = static_cast<uint32_t>(std::atoi(answer.c_str() + digits)) + 1;
            }
        }
        out.ok = true;
        return out;
    }
    for (int index = 0; index < UpnpNat::kIndexCap; ++index) {
        const std::string args =
            "<NewPortMappingIndex>" + std::to_string(index) + "</NewPortMappingIndex>";
        if (!raw_exchange(
                host, port,
                soap_request(host, port, path, service, "GetGenericPortMappingEntry", args), answer,
                ms))
            return out;
        out.ms += ms;
        ++out.exchanges;
        if (!status_200(answer)) {
            out.ok = true; // the refusal that ends the table
            return out;
        }
        ++out.entries;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------

// Every step but summary sends to the router (and SSDP to the multicast group): only ever from
// inside the lab's LAN namespace.
bool inside_lab_namespace() {
    struct stat own {};
    struct stat lab {};
    return stat("/proc/self/ns/net", &own) == 0 && stat("/run/netns/quaymap-lan", &lab) == 0 &&
           own.st_ino == lab.st_ino && own.st_dev == lab.st_dev;
}

// Other work on the machine slows the router, upnpc and QuayMap alike: the summary says how
// busy it was.
double load_average() {
    double load = kNone;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = kNone;
        std::fclose(f);
    }
    return load;
}

struct Args {
    std::string mode, desc_url, cli, app, upnpc = "upnpc", router_log, lab;
    int runs = 7;
    size_t expect = 0;
};

void usage() {
    std::fprintf(stderr,
                 "usage: upnp_lab_bench listing --mode igd|igd2 --desc-url URL --expect N --cli "
                 "PATH [--app PATH] [--runs R] [--upnpc PATH] [--router-log PATH]\n"
                 "       upnp_lab_bench verdict --mode igd|natpmp|none --cli PATH [--app PATH] "
                 "[--runs R]\n"
                 "       upnp_lab_bench gone --lab PATH [--runs R]\n"
                 "       upnp_lab_bench summary FILE\n");
    std::exit(2);
}

Args parse(int argc, char** argv) {
    Args a;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            usage();
        const std::string value = argv[++i];
        if (arg == "--mode")
            a.mode = value;
        else if (arg == "--desc-url")
            a.desc_url = value;
        else if (arg == "--cli")
            a.cli = value;
        else if (arg == "--app")
            a.app = value;
        else if (arg == "--upnpc")
            a.upnpc = value;
        else if (arg == "--router-log")
            a.router_log = value;
        else if (arg == "--lab")
            a.lab = value;
        else if (arg == "--runs")
            a.runs = std::atoi(value.c_str());
        else if (arg == "--expect")
            a.expect = static_cast<size_t>(std::atol(value.c_str()));
        else
            usage();
    }
    if (a.runs < 1)
        usage();
    return a;
}

// Lines of the router's log that name a SOAP action: how many exchanges of a kind it served.
size_t router_log_count(const std::string& log, const std::string& action) {
    if (log.empty())
        return 0;
    std::ifstream in(log);
    std::string line;
    size_t count = 0;
    const std::string mark = "#" + action;
    while (std::getline(in, line))
        if (line.find("SOAPAction:") != std::string::npos && line.find(mark) != std::string::npos)
            ++count;
    return count;
}

// One listing read step by step: each read_mappings call is one exchange with the router.
int counted_listing(UpnpNat& nat, size_t& rows) {
    nat.mappings.clear();
    nat.mapping_lines.clear();
    UpnpNat::MappingCursor cursor;
    int steps = 0;
    while (!cursor.done) {
        nat.read_mappings(cursor);
        ++steps;
    }
    rows = nat.mappings.size();
    return steps;
}

void open_quietly(UpnpNat& nat, const std::string& url) {
    nat.console = nullptr;
    nat.init(60);
    if (!nat.open_description(url))
        die("the client cannot open " + url + ": " + nat.last_error);
}

int listing(const Args& a) {
    if (a.desc_url.empty() || a.cli.empty() || a.expect == 0 ||
        (a.mode != "igd" && a.mode != "igd2"))
        usage();
    const size_t n = a.expect;

    // The control URL and service for the floor, and the in-process clients of the comparison.
    UpnpNat pages;
    open_quietly(pages, a.desc_url);
    const bool v2 = pages.igd_version == 2;
    if (v2 != (a.mode == "igd2"))
        die("the router is IGD v" + std::to_string(pages.igd_version) + ", not mode " + a.mode);
    const std::string control_url = pages.control_url;
    const std::string service = pages.service_type;

    const std::vector<std::string> cli_list = {a.cli, "list"};
    const std::vector<std::string> cli_router_list = {a.cli, "--router", a.desc_url, "list"};
    const std::vector<std::string> upnpc_l = {a.upnpc, "-l"};
    const std::vector<std::string> upnpc_u = {a.upnpc, "-u", a.desc_url, "-l"};

    // A warm-up round that also checks every side sees the whole table.
    const auto check = [n](const char* who, size_t rows, bool ok) {
        if (!ok || rows != n)
            die(std::string(who) + " listed " + std::to_string(rows) + " of " + std::to_string(n) +
                " mappings" + (ok ? "" : " and failed"));
    };
    {
        const Spawned c = spawn_timed(cli_list, {}, nullptr, kProcessLimitMs);
        check("quaymap-cli list", cli_rows(c.out), c.exit_code == 0);
        const Spawned u = spawn_timed(upnpc_l, {}, nullptr, kProcessLimitMs);
        check("upnpc -l", upnpc_rows(u.out), u.exit_code == 0);
        if (!a.app.empty()) {
            RowCounter rows(n);
            const Spawned w = spawn_timed({a.app}, kOffscreen, rows, kProcessLimitMs);
            check("the window", *rows.rows(), w.met);
        }
        const Floor f = router_floor(a.desc_url, control_url, service, v2);
        check("the raw floor exchanges", f.entries, f.ok);
    }

    std::vector<double> cli_ms, app_ms, upnpc_ms, floor_ms, ssdp_ms, desc_ms, cli_u_ms, upnpc_u_ms;
    std::vector<double> cli_margin, app_margin, cli_ratio, router_ratio, cli_cpu, app_cpu;
    int floor_exchanges = 0;
    std::printf("%-4s %10s %10s %10s %10s %14s %14s\n", "run", "cli list", "window", "upnpc -l",
                "floor", "cli --router", "upnpc -u -l");
    for (int run = 0; run < a.runs; ++run) {
        // Take turns at going first, so that none always meets a router fresh from another.
        std::vector<int> order = {0, 1};
        if (!a.app.empty())
            order.push_back(2);
        std::rotate(order.begin(), order.begin() + run % order.size(), order.end());
        double c = 0, w = -1, u = 0;
        double c_cpu = 0, w_cpu = 0;
        for (int who : order) {
            if (who == 0) {
                const Spawned s = spawn_timed(cli_list, {}, nullptr, kProcessLimitMs);
                check("quaymap-cli list", cli_rows(s.out), s.exit_code == 0);
                c = s.ms;
                c_cpu = s.cpu_ms;
            } else if (who == 1) {
                const Spawned s = spawn_timed(upnpc_l, {}, nullptr, kProcessLimitMs);
                check("upnpc -l", upnpc_rows(s.out), s.exit_code == 0);
                u = s.ms;
            } else {
                RowCounter rows(n);
                const Spawned s = spawn_timed({a.app}, kOffscreen, rows, kProcessLimitMs);
                check("the window", *rows.rows(), s.met);
                w = s.ms;
                w_cpu = s.cpu_ms;
            }
        }
        double cu = 0, uu = 0;
        for (int k = 0; k < 2; ++k) {
            if ((k + run) % 2 == 0) {
                const Spawned s = spawn_timed(cli_router_list, {}, nullptr, kProcessLimitMs);
                check("quaymap-cli --router URL list", cli_rows(s.out), s.exit_code == 0);
                cu = s.ms;
            } else {
                const Spawned s = spawn_timed(upnpc_u, {}, nullptr, kProcessLimitMs);
                check("upnpc -u URL -l", upnpc_rows(s.out), s.exit_code == 0);
                uu = s.ms;
            }
        }
        const Floor f = router_floor(a.desc_url, control_url, service, v2);
        check("the raw floor exchanges", f.entries, f.ok);
        floor_exchanges = f.exchanges;
        cli_ms.push_back(c);
        upnpc_ms.push_back(u);
        floor_ms.push_back(f.ms);
        ssdp_ms.push_back(f.ssdp_ms);
        desc_ms.push_back(f.description_ms);
        cli_u_ms.push_back(cu);
        upnpc_u_ms.push_back(uu);
        // The router's own pace drifts from run to run (and with the machine's load): each
        // difference and ratio is taken within its run, then their median.
        cli_margin.push_back(c - f.ms);
        cli_cpu.push_back(c_cpu);
        cli_ratio.push_back(c / u);
        router_ratio.push_back(cu / uu);
        if (w >= 0) {
            app_ms.push_back(w);
            app_margin.push_back(w - f.ms);
            app_cpu.push_back(w_cpu);
        }
        std::printf("%-4d %10.1f %10.1f %10.1f %10.1f %14.1f %14.1f\n", run + 1, c, w, u, f.ms, cu,
                    uu);
    }
    const double cli = median(cli_ms), upnpc = median(upnpc_ms), floor = median(floor_ms);
    const double app = a.app.empty() ? kNone : median(app_ms);
    const double app_over = a.app.empty() ? kNone : median(app_margin);
    std::printf("\nIGD v%d, %zu mappings, medians of %d runs (ms; differences and ratios taken "
                "run by run)\n",
                v2 ? 2 : 1, n, a.runs);
    std::printf("  %-36s %9.1f   (floor %+.1f, %.3f x upnpc -l; %.1f ms of processor time)\n",
                "quaymap-cli list", cli, median(cli_margin), median(cli_ratio), median(cli_cpu));
    if (!a.app.empty())
        std::printf("  %-36s %9.1f   (floor %+.1f; %.1f ms of processor time)\n",
                    "window, start to last row", app, app_over, median(app_cpu));
    std::printf("  %-36s %9.1f\n", "upnpc -l", upnpc);
    std::printf("  %-36s %9.1f   (%d exchanges: SSDP %.1f, description %.1f, listing %.1f)\n",
                "router floor", floor, floor_exchanges, median(ssdp_ms), median(desc_ms),
                floor - median(ssdp_ms) - median(desc_ms));
    std::printf("  %-36s %9.1f   (%.3f x upnpc -u URL -l)\n", "quaymap-cli --router URL list",
                median(cli_u_ms), median(router_ratio));
    std::printf("  %-36s %9.1f\n", "upnpc -u URL -l", median(upnpc_u_ms));
    std::printf("@listing %s %zu %.1f %.1f %.1f %.1f %d %.1f %.1f %.4f %.1f %.1f\n", a.mode.c_str(),
                n, cli, app, upnpc, floor, floor_exchanges, median(cli_margin), app_over,
                median(cli_ratio), median(cli_cpu), a.app.empty() ? kNone : median(app_cpu));
    std::printf("@router %s %zu %.1f %.1f %.4f\n", a.mode.c_str(), n, median(cli_u_ms),
                median(upnpc_u_ms), median(router_ratio));
    // Pages are only for tables that index 128 shows no larger than that.
    if (!v2 || n > static_cast<size_t>(UpnpNat::kSafeListing))
        return 0;

    // The same v2 router read by its pages and by the index walk. Naming the v1 service makes
    // the client walk the indexes; miniupnpd takes that action name on its v2 control URL.
    UpnpNat walk;
    open_quietly(walk, a.desc_url);
    walk.service_type = SERVICE_WANIP;
    const size_t pages_before = router_log_count(a.router_log, "GetListOfPortMappings");
    const size_t entries_before = router_log_count(a.router_log, "GetGenericPortMappingEntry");
    size_t page_rows = 0, walk_rows = 0;
    const int page_steps = counted_listing(pages, page_rows);
    const size_t pages_seen =
        router_log_count(a.router_log, "GetListOfPortMappings") - pages_before;
    const int walk_steps = counted_listing(walk, walk_rows);
    const size_t entries_seen =
        router_log_count(a.router_log, "GetGenericPortMappingEntry") - entries_before;
    if (page_rows != n || walk_rows != n)
        die("in process: pages listed " + std::to_string(page_rows) + ", the walk " +
            std::to_string(walk_rows) + " of " + std::to_string(n));
    if (walk_steps != static_cast<int>(n) + 1)
        die("the walk took " + std::to_string(walk_steps) + " exchanges, not one per index");
    // The pages' look at index 128 is one index request more.
    if (!a.router_log.empty() && (pages_seen + 1 != static_cast<size_t>(page_steps) ||
                                  entries_seen != static_cast<size_t>(walk_steps) + 1))
        die("the router served " + std::to_string(pages_seen) + " pages and " +
            std::to_string(entries_seen) + " index requests; the client counted " +
            std::to_string(page_steps) + " and " + std::to_string(walk_steps));
    std::vector<double> page_ms, walk_ms;
    for (int run = 0; run < a.runs; ++run) {
        for (int k = 0; k < 2; ++k) {
            UpnpNat& nat = (k + run) % 2 == 0 ? pages : walk;
            const Clock::time_point start = Clock::now();
            const bool ok = nat.get_port_mappings();
            const double ms = ms_since(start);
            if (!ok || nat.mappings.size() != n)
                die("in-process listing failed");
            (&nat == &pages ? page_ms : walk_ms).push_back(ms);
        }
    }
    std::printf("\nIGD v2, %zu mappings, in process after open_description (ms, medians)\n", n);
    std::printf("  %-36s %9.1f   (%d exchanges%s)\n", "GetListOfPortMappings pages",
                median(page_ms), page_steps,
                a.router_log.empty() ? "" : ", as the router's log shows");
    std::printf("  %-36s %9.1f   (%d exchanges%s)\n", "GetGenericPortMappingEntry walk",
                median(walk_ms), walk_steps,
                a.router_log.empty() ? "" : ", as the router's log shows");
    std::printf("  %-36s %9.3f\n", "pages / walk", median(page_ms) / median(walk_ms));
    std::printf("@walk %zu %.2f %.2f %d %d\n", n, median(page_ms), median(walk_ms), page_steps,
                walk_steps);
    return 0;
}

// The outcome word of a search, from quaymap-cli status.
std::string cli_outcome(const Spawned& s) {
    if (s.exit_code == 3)
        return "none";
    if (s.exit_code != 0)
        return "exit" + std::to_string(s.exit_code);
    if (s.out.find("(NAT-PMP)") != std::string::npos)
        return "natpmp";
    if (s.out.find("IGD v1") != std::string::npos)
        return "igd1";
    if (s.out.find("IGD v2") != std::string::npos)
        return "igd2";
    return "unknown";
}

// The window logs exactly one "search result: ..." line per search.
std::string window_outcome(const std::string& err) {
    static const std::string head = "search result: ";
    const size_t at = err.find(head);
    if (at == std::string::npos)
        return "";
    const size_t end = err.find('\n', at);
    const std::string text = err.substr(at + head.size(), end - at - head.size());
    if (text.compare(0, 6, "natpmp") == 0)
        return "natpmp";
    if (text.compare(0, 9, "upnp igd1") == 0)
        return "igd1";
    if (text.compare(0, 9, "upnp igd2") == 0)
        return "igd2";
    return text;
}

int verdict(const Args& a) {
    if (a.cli.empty() || (a.mode != "igd" && a.mode != "natpmp" && a.mode != "none"))
        usage();
    const std::string expected = a.mode == "igd" ? "igd1" : a.mode;
    const Until search_line = [](const std::string&, const std::string& err) {
        const size_t at = err.find("search result: ");
        return at != std::string::npos && err.find('\n', at) != std::string::npos;
    };
    std::vector<double> cli_ms, app_ms;
    std::printf("%-4s %16s %16s\n", "run", "cli status", "window search");
    for (int run = 0; run < a.runs; ++run) {
        double c = 0, w = -1;
        for (int k = 0; k < (a.app.empty() ? 1 : 2); ++k) {
            if ((k + run) % 2 == 0 || a.app.empty()) {
                const Spawned s = spawn_timed({a.cli, "status"}, {}, nullptr, kProcessLimitMs);
                if (cli_outcome(s) != expected)
                    die("quaymap-cli status found " + cli_outcome(s) + ", not " + expected);
                c = s.ms;
            } else {
                const Spawned s = spawn_timed({a.app}, kOffscreen, search_line, kProcessLimitMs);
                if (!s.met || window_outcome(s.err) != expected)
                    die("the window's search found \"" + window_outcome(s.err) + "\", not " +
                        expected);
                w = s.ms;
            }
        }
        cli_ms.push_back(c);
        if (w >= 0)
            app_ms.push_back(w);
        std::printf("%-4d %16.1f %16.1f\n", run + 1, c, w);
    }
    std::printf("\nSearch outcome in mode %s (%s), medians of %d runs (ms)\n", a.mode.c_str(),
                expected.c_str(), a.runs);
    std::printf("  %-36s %9.1f\n", "quaymap-cli status (start to exit)", median(cli_ms));
    if (!a.app.empty())
        std::printf("  %-36s %9.1f\n", "window (start to search result)", median(app_ms));
    std::printf("@verdict %s %s %.1f %.1f\n", a.mode.c_str(), expected.c_str(), median(cli_ms),
                median(app_ms));
    return 0;
}

int gone(const Args& a) {
    if (a.lab.empty())
        usage();
    // The engine's own log lines would swamp the figures.
    set_log_echo(false);
    UpnpNat nat;
    nat.console = nullptr;
    quaymap::RouterEngine engine(nat);
    const quaymap::SearchOutcome found = engine.search({});
    if (found.kind != quaymap::RouterKind::igd1 && found.kind != quaymap::RouterKind::igd2)
        die("the search found no IGD router");
    const auto lab = [&a](const std::string& what) {
        const std::string command = a.lab + " router " + what + " >/dev/null";
        if (std::system(command.c_str()) != 0)
            die("scripts/lab router " + what + " failed");
    };
    quaymap::AddRequest request;
    request.name = "lab bench";
    request.external_port = 47999;
    request.protocol = "TCP";
    const MappingRecord row{"lab bench", "TCP", "47999", "", "47999", ""};

    struct Way {
        const char* name;
        const char* vanish;
        const char* restore;
    };
    const Way ways[] = {{"stop", "stop", "start"}, {"drop", "drop", "mend"}};
    for (const Way& way : ways) {
        std::vector<double> add_ms, remove_ms, address_ms;
        std::string verdicts[3];
        std::printf("router %s: %-4s %12s %12s %16s\n", way.name, "run", "add", "delete",
                    "public address");
        for (int run = 0; run < a.runs; ++run) {
            lab(way.vanish);
            double ms[3];
            for (int k = 0; k < 3; ++k) {
                const Clock::time_point start = Clock::now();
                const quaymap::CommandResult r = k == 0   ? engine.add(request)
                                                 : k == 1 ? engine.remove(row)
                                                          : engine.public_address();
                ms[k] = ms_since(start);
                const std::string v = quaymap::verdict_name(r.verdict);
                // Every verdict met across the runs, usually one.
                if (("/" + verdicts[k] + "/").find("/" + v + "/") == std::string::npos)
                    verdicts[k] += (verdicts[k].empty() ? "" : "/") + v;
            }
            lab(way.restore);
            add_ms.push_back(ms[0]);
            remove_ms.push_back(ms[1]);
            address_ms.push_back(ms[2]);
            std::printf("router %s: %-4d %12.1f %12.1f %16.1f\n", way.name, run + 1, ms[0], ms[1],
                        ms[2]);
        }
        // The router is back: the same engine reaches it again, without a new search.
        const quaymap::CommandResult back = engine.public_address();
        if (!back.ok())
            die(std::string("after router ") + way.restore +
                " the engine does not reach it: " + back.message);
        std::printf("  medians: add %.1f ms (%s), delete %.1f ms (%s), public address %.1f ms "
                    "(%s)\n\n",
                    median(add_ms), verdicts[0].c_str(), median(remove_ms), verdicts[1].c_str(),
                    median(address_ms), verdicts[2].c_str());
        std::printf("@gone %s %.1f %s %.1f %s %.1f %s\n", way.name, median(add_ms),
                    verdicts[0].c_str(), median(remove_ms), verdicts[1].c_str(), median(address_ms),
                    verdicts[2].c_str());
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The README's tables

const char* met(bool ok) {
    return ok ? "met" : "**not met**";
}

std::string fmt(double v, const char* format = "%.1f") {
    if (std::isnan(v))
        return "–";
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// The result lines, word by word; numbers through strtod, which also reads "nan".
struct Fields {
    std::vector<std::string> words;
    size_t at = 1;
    std::string text() { return at < words.size() ? words[at++] : std::string(); }
    double number() {
        return at < words.size() ? std::strtod(words[at++].c_str(), nullptr) : kNone;
    }
};

int summary(const std::string& file) {
    std::ifstream in(file);
    if (!in)
        die("cannot read " + file);
    struct Listing {
        std::string mode;
        double n, cli, app, upnpc, floor, exchanges, cli_over, app_over, cli_ratio, cli_cpu,
            app_cpu;
    };
    struct Router {
        std::string mode;
        double n, cli, upnpc, ratio;
    };
    struct Walk {
        double n, pages, walk, page_steps, walk_steps;
    };
    struct VerdictRow {
        std::string mode, outcome;
        double cli, app;
    };
    struct Gone {
        std::string way;
        double ms[3];
        std::string verdict[3];
    };
    std::vector<Listing> listings;
    std::vector<Router> routers;
    std::vector<Walk> walks;
    std::vector<VerdictRow> verdicts;
    std::vector<Gone> gones;
    std::vector<double> loads;
    int runs = 0;
    std::string line;
    while (std::getline(in, line)) {
        Fields f;
        std::istringstream split(line);
        for (std::string word; split >> word;)
            f.words.push_back(word);
        if (f.words.empty())
            continue;
        const std::string& tag = f.words[0];
        if (tag == "@runs") {
            runs = static_cast<int>(f.number());
        } else if (tag == "@load") {
            loads.push_back(f.number());
        } else if (tag == "@listing") {
            Listing l;
            l.mode = f.text();
            l.n = f.number();
            l.cli = f.number();
            l.app = f.number();
            l.upnpc = f.number();
            l.floor = f.number();
            l.exchanges = f.number();
            l.cli_over = f.number();
            l.app_over = f.number();
            l.cli_ratio = f.number();
            l.cli_cpu = f.number();
            l.app_cpu = f.number();
            listings.push_back(l);
        } else if (tag == "@router") {
            Router r;
            r.mode = f.text();
            r.n = f.number();
            r.cli = f.number();
            r.upnpc = f.number();
            r.ratio = f.number();
            routers.push_back(r);
        } else if (tag == "@walk") {
            Walk w;
            w.n = f.number();
            w.pages = f.number();
            w.walk = f.number();
            w.page_steps = f.number();
            w.walk_steps = f.number();
            walks.push_back(w);
        } else if (tag == "@verdict") {
            VerdictRow v;
            v.mode = f.text();
            v.outcome = f.text();
            v.cli = f.number();
            v.app = f.number();
            verdicts.push_back(v);
        } else if (tag == "@gone") {
            Gone g;
            g.way = f.text();
            for (int k = 0; k < 3; ++k) {
                g.ms[k] = f.number();
                g.verdict[k] = f.text();
            }
            gones.push_back(g);
        }
    }
    const auto igd_name = [](const std::string& mode) {
        return mode == "igd" ? std::string("IGD v1") : std::string("IGD v2");
    };
    const auto count = [](double n) { return fmt(n, "%.0f"); };
    std::vector<std::pair<std::string, bool>> targets;

    std::printf("Medians of %d runs, milliseconds, each figure taken next to its peer in the same "
                "run; differences and ratios are taken run by run, then their median.",
                runs);
    if (!loads.empty())
        std::printf(" The machine's 1-minute load average ranged from %.2f to %.2f.",
                    *std::min_element(loads.begin(), loads.end()),
                    *std::max_element(loads.begin(), loads.end()));
    std::printf("\n\n");

    std::printf("Listing, process start to the full table. Floor: the router's own time for the "
                "exchanges the listing needs, each timed raw from connect to the router's close: "
                "the SSDP answer, the description, then on v1 one request per index plus the "
                "refused one, on v2 the GetListOfPortMappings pages (TCP, UDP). Processor time: "
                "user and system time of the process; in the lab the router shares the machine's "
                "cores with it.\n\n");
    std::printf(
        "| router | mappings | `quaymap-cli list` | window | `upnpc -l` | floor (exchanges) "
        "| cli - floor | window - floor | cli / `upnpc -l` | floor / `upnpc -l` | processor "
        "time, cli / window |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Listing& l : listings) {
        std::printf("| %s | %s | %s | %s | %s | %s (%s) | %s | %s | %s | %s | %s / %s |\n",
                    igd_name(l.mode).c_str(), count(l.n).c_str(), fmt(l.cli).c_str(),
                    fmt(l.app).c_str(), fmt(l.upnpc).c_str(), fmt(l.floor).c_str(),
                    count(l.exchanges).c_str(), fmt(l.cli_over).c_str(), fmt(l.app_over).c_str(),
                    fmt(l.cli_ratio, "%.3f").c_str(), fmt(l.floor / l.upnpc, "%.3f").c_str(),
                    fmt(l.cli_cpu).c_str(), fmt(l.app_cpu).c_str());
        if (l.mode == "igd") {
            const std::string at = " (v1, " + count(l.n) + ")";
            targets.push_back(
                {"`quaymap-cli list` ≤ floor + 40 ms" + at + ": floor + " + fmt(l.cli_over),
                 l.cli_over <= 40});
            if (!std::isnan(l.app_over))
                targets.push_back({"window ≤ floor + 40 ms" + at + ": floor + " + fmt(l.app_over),
                                   l.app_over <= 40});
            std::string bound;
            if (l.floor > 0.1 * l.upnpc)
                bound = " (the router's floor alone is " + fmt(l.floor / l.upnpc, "%.3f") +
                        "× `upnpc -l`)";
            targets.push_back({"`quaymap-cli list` ≤ 0.1 × `upnpc -l`" + at + ": " +
                                   fmt(l.cli_ratio, "%.3f") + "×" + bound,
                               l.cli_ratio <= 0.1});
        }
    }

    std::printf("\nIGD v2, in process after `open_description(url)`: `get_port_mappings()` by "
                "GetListOfPortMappings pages and, on the same router, by the "
                "GetGenericPortMappingEntry index walk (exchanges counted by the client and in "
                "the router's log).\n\n");
    std::printf("| mappings | pages (exchanges) | index walk (exchanges) | pages / walk |\n");
    std::printf("|---:|---:|---:|---:|\n");
    for (const Walk& w : walks)
        std::printf("| %s | %s (%s) | %s (%s) | %s |\n", count(w.n).c_str(),
                    fmt(w.pages, "%.2f").c_str(), count(w.page_steps).c_str(),
                    fmt(w.walk, "%.2f").c_str(), count(w.walk_steps).c_str(),
                    fmt(w.pages / w.walk, "%.3f").c_str());
    if (!walks.empty()) {
        const Walk& w = *std::max_element(walks.begin(), walks.end(),
                                          [](const Walk& x, const Walk& y) { return x.n < y.n; });
        targets.push_back({"v2 pages ≤ 0.2 × index walk (" + count(w.n) +
                               "): " + fmt(w.pages / w.walk, "%.3f") + "×",
                           w.pages <= 0.2 * w.walk});
    }

    std::printf("\nA known description URL, no discovery: process start to exit.\n\n");
    std::printf("| router | mappings | `quaymap-cli --router URL list` | `upnpc -u URL -l` | ratio "
                "|\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    for (const Router& r : routers) {
        std::printf("| %s | %s | %s | %s | %s |\n", igd_name(r.mode).c_str(), count(r.n).c_str(),
                    fmt(r.cli).c_str(), fmt(r.upnpc).c_str(), fmt(r.ratio, "%.2f").c_str());
        targets.push_back({"`--router URL list` ≤ 1.0 × `upnpc -u URL -l` (" + igd_name(r.mode) +
                               ", " + count(r.n) + "): " + fmt(r.ratio, "%.2f") + "×",
                           r.ratio <= 1.0});
    }

    std::printf("\nSearch outcome: `quaymap-cli status` from start to exit; the window from start "
                "to its \"search result\" line.\n\n");
    std::printf("| lab mode | outcome | `quaymap-cli status` | window | target |\n");
    std::printf("|---|---|---:|---:|---:|\n");
    for (const VerdictRow& v : verdicts) {
        const double limit = v.mode == "natpmp" ? 5000 : v.mode == "none" ? 6000 : kNone;
        std::printf("| %s | %s | %s | %s | %s |\n", v.mode.c_str(), v.outcome.c_str(),
                    fmt(v.cli).c_str(), fmt(v.app).c_str(),
                    std::isnan(limit) ? "about 100" : ("≤ " + fmt(limit, "%.0f")).c_str());
        // "About 0.1 s" for an IGD router: taken as within twice that.
        const double bound = std::isnan(limit) ? 200 : limit;
        const std::string words = std::isnan(limit) ? "about 100" : "≤ " + fmt(limit, "%.0f");
        targets.push_back({"`quaymap-cli status`, " + v.mode + ": " + fmt(v.cli) + " ms, " + words,
                           v.cli <= bound});
        if (!std::isnan(v.app))
            targets.push_back({"window's search, " + v.mode + ": " + fmt(v.app) + " ms, " + words,
                               v.app <= bound});
    }

    std::printf("\nCommands after the router vanished (engine in process, the router found "
                "first): time to the verdict.\n\n");
    std::printf("| router | add | delete | public address |\n");
    std::printf("|---|---:|---:|---:|\n");
    for (const Gone& g : gones) {
        const char* how = g.way == "stop" ? "stopped (`router stop`: refused)"
                                          : "silent (`router drop`: time out)";
        std::printf("| %s | %s (%s) | %s (%s) | %s (%s) |\n", how, fmt(g.ms[0]).c_str(),
                    g.verdict[0].c_str(), fmt(g.ms[1]).c_str(), g.verdict[1].c_str(),
                    fmt(g.ms[2]).c_str(), g.verdict[2].c_str());
        static const char* const names[] = {"add", "delete", "public address"};
        for (int k = 0; k < 3; ++k)
            targets.push_back({std::string(names[k]) + ", router " + g.way + ": " + fmt(g.ms[k]) +
                                   " ms ≤ 10000, " + g.verdict[k],
                               g.ms[k] <= 10000 && g.verdict[k] == "unreachable"});
    }

    std::printf("\nTargets:\n\n");
    for (const auto& [text, ok] : targets)
        std::printf("- %s: %s\n", text.c_str(), met(ok));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        usage();
    const std::string step = argv[1];
    if (step == "summary") {
        if (argc != 3)
            usage();
        return summary(argv[2]);
    }
    if (step != "listing" && step != "verdict" && step != "gone")
        usage();
    const Args a = parse(argc, argv);
    if (!inside_lab_namespace()) {
        std::fprintf(stderr, "lab bench: run me inside the lab (bench/upnp/run_lab_bench.sh)\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("@load %.2f\n", load_average());
    const int status = step == "listing" ? listing(a) : step == "verdict" ? verdict(a) : gone(a);
    std::printf("@load %.2f\n", load_average());
    return status;
}
