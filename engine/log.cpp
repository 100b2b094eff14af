#include "log.h"

#include "router_text.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

// Guards the observer and the echo switch, and keeps the lines of two threads whole.
std::mutex& log_mutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const std::string&)>& observer() {
    static std::function<void(const std::string&)> current;
    return current;
}

std::string time_stamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    const std::size_t used = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + used, sizeof text - used, ".%03d", static_cast<int>(millis));
    return text;
}

bool& echo_on() {
    static bool on = true;
    return on;
}

} // namespace

void set_log_echo(bool echo) {
    std::lock_guard<std::mutex> lock(log_mutex());
    echo_on() = echo;
}

void set_log_observer(std::function<void(const std::string&)> fn) {
    std::lock_guard<std::mutex> lock(log_mutex());
    observer() = std::move(fn);
}

void quaymap_log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
    // A line ends where the log puts its line feed; what it holds from a router or the network
    // (a name, a URL) cannot break it or reach the terminal as a control.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    text = quaymap::one_line(text);

    // One lock keeps lines from two threads whole and in the order they were logged.
    std::lock_guard<std::mutex> lock(log_mutex());
    if (echo_on()) {
        std::fprintf(stderr, "%s quaymap[%d] %s\n", time_stamp().c_str(),
                     static_cast<int>(getpid()), text.c_str());
        std::fflush(stderr);
        static const bool opened = [] {
            openlog("quaymap", LOG_PID, LOG_USER);
            return true;
        }();
        (void)opened;
        syslog(LOG_NOTICE, "%s", text.c_str());
    }
    if (observer())
        observer()(text);
}
