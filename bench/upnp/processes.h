// Programs the bench runs and times: QuayMap's command and window, upnpc, and the lab's relay.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// What a program did: how long from its start to its exit (or to the moment the caller's
// condition held, after which it is ended), and everything it wrote.
struct Spawned {
    double ms = 0;
    bool met = false; // the condition held
    bool exited = false;
    int exit_code = -1;
    // Its processor time (user and system): in the lab the router shares the machine's cores.
    double cpu_ms = 0;
    std::string out, err;
};

// Decides, from what the program wrote so far, that the moment to time has come.
using Until = std::function<bool(const std::string& out, const std::string& err)>;

constexpr int kProcessLimitMs = 30000;
// The window's environment: no display needed.
extern const std::vector<std::string> kOffscreen;

// Runs `argv` (with `env_set` added to the environment) until it exits, `until` holds, or
// `limit_ms` have passed.
Spawned spawn_timed(const std::vector<std::string>& argv, const std::vector<std::string>& env_set,
                    const Until& until, int limit_ms);

// A program that runs beside the measured ones (the relay), ended when this goes.
class Background {
  public:
    // Starts `argv` and waits until it writes `ready` on its standard output.
    Background(const std::vector<std::string>& argv, const std::string& ready);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};
