#include "processes.h"

#include "figures.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

const std::vector<std::string> kOffscreen = {"QT_QPA_PLATFORM=offscreen"};

namespace {

// Texts that posix_spawn takes as a null-ended array of pointers.
class Texts {
  public:
    explicit Texts(std::vector<std::string> texts) : texts_(std::move(texts)) {
        for (std::string& t : texts_)
            pointers_.push_back(t.data());
        pointers_.push_back(nullptr);
    }
    char* const* get() { return pointers_.data(); }

  private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

// This process's environment with `set` replacing or adding variables.
std::vector<std::string> environment_with(const std::vector<std::string>& set) {
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::string name(*e, eq ? static_cast<size_t>(eq - *e) : std::strlen(*e));
        bool replaced = false;
        for (const std::string& s : set)
            replaced = replaced || s.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            out.push_back(*e);
    }
    out.insert(out.end(), set.begin(), set.end());
    return out;
}

// Starts a program with its standard output and error on pipes, whose reading ends come back
// in `out` and `err`; its standard input is /dev/null.
pid_t start(const std::vector<std::string>& argv, const std::vector<std::string>& env_set, int& out,
            int& err) {
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        die("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    Texts args(argv), env(environment_with(env_set));
    pid_t pid = -1;
    const int spawned =
        posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.get(), env.get());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    out = out_pipe[0];
    err = err_pipe[0];
    if (spawned != 0)
        die("cannot start " + argv[0]);
    return pid;
}

// Ends a program politely, then not; its processor time goes to `cpu_ms`.
int end(pid_t pid, bool exited, double& cpu_ms) {
    int status = 0;
    rusage usage{};
    if (exited) {
        wait4(pid, &status, 0, &usage);
    } else {
        kill(pid, SIGTERM);
        pid_t reaped = 0;
        for (int i = 0; i < 50 && (reaped = wait4(pid, &status, WNOHANG, &usage)) == 0; ++i)
            usleep(20000);
        if (reaped == 0) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
        }
    }
    cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    return status;
}

// Reads both pipes until they close, `until` holds or the limit passes; true when both closed.
bool collect(pollfd (&fds)[2], Spawned& result, const Until& until, Clock::time_point start,
             int limit_ms) {
    int open_pipes = 2;
    char buffer[65536];
    while (open_pipes > 0) {
        const double left = limit_ms - ms_since(start);
        if (left <= 0)
            return false;
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
            return false;
        }
    }
    return true;
}

} // namespace

Spawned spawn_timed(const std::vector<std::string>& argv, const std::vector<std::string>& env_set,
                    const Until& until, int limit_ms) {
    Spawned result;
    const Clock::time_point started = Clock::now();
    int out = -1, err = -1;
    const pid_t pid = start(argv, env_set, out, err);
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    // Both pipes closed: the program is ending, and its exit is the moment timed.
    result.exited = collect(fds, result, until, started, limit_ms);
    const int status = end(pid, result.exited, result.cpu_ms);
    if (!result.met)
        result.ms = ms_since(started);
    for (pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    if (result.exited && WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    return result;
}

Background::Background(const std::vector<std::string>& argv, const std::string& ready) {
    int err = -1;
    pid_ = start(argv, {}, out_, err);
    close(err);
    std::string said;
    char buffer[256];
    const Clock::time_point started = Clock::now();
    while (said.find(ready) == std::string::npos) {
        pollfd p{out_, POLLIN, 0};
        const ssize_t n = ms_since(started) < 5000 && poll(&p, 1, 5000) == 1
                              ? read(out_, buffer, sizeof buffer)
                              : 0;
        if (n <= 0)
            die(argv[0] + " did not start: " + said);
        said.append(buffer, static_cast<size_t>(n));
    }
}

Background::~Background() {
    double cpu_ms = 0;
    end(pid_, false, cpu_ms);
    close(out_);
}
