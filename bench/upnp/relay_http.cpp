#include "relay_http.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

constexpr int kRouterWaitMs = 5000;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The value of header `name` (lower case) in `head`, or empty.
std::string header(const std::string& head, const std::string& name) {
    const std::string low = lower(head);
    const size_t at = low.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return {};
    const size_t start = head.find_first_not_of(" \t", at + name.size() + 3);
    return head.substr(start, head.find("\r\n", start) - start);
}

bool is_framing(const std::string& line) {
    const std::string low = lower(line);
    for (const char* name : {"content-length:", "transfer-encoding:", "connection:"})
        if (low.compare(0, std::string(name).size(), name) == 0)
            return true;
    return false;
}

bool receive(int fd, std::string& into, int wait_ms) {
    pollfd p{fd, POLLIN, 0};
    char buffer[16384];
    if (poll(&p, 1, wait_ms) != 1)
        return false;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0)
        return false;
    into.append(buffer, static_cast<size_t>(n));
    return true;
}

} // namespace

bool read_request(int fd, std::string& request, int idle_ms) {
    request.clear();
    size_t head_end = std::string::npos;
    while ((head_end = request.find("\r\n\r\n")) == std::string::npos)
        if (!receive(fd, request, idle_ms))
            return false;
    const size_t length = std::strtoul(header(request, "content-length").c_str(), nullptr, 10);
    while (request.size() < head_end + 4 + length)
        if (!receive(fd, request, idle_ms))
            return false;
    return true;
}

std::string with_host(const std::string& request, const std::string& host) {
    const std::string value = header(request, "host");
    if (value.empty())
        return request;
    std::string out = request;
    const size_t at = lower(out).find("\r\nhost:");
    const size_t start = out.find(value, at);
    return out.replace(start, value.size(), host);
}

bool pass_on(const sockaddr_in& to, const std::string& request, std::string& answer) {
    answer.clear();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
              send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                  static_cast<ssize_t>(request.size());
    while (ok && receive(fd, answer, kRouterWaitMs)) {
    }
    close(fd);
    return ok && !answer.empty();
}

bool split_answer(const std::string& raw, Answer& answer) {
    const size_t head_end = raw.find("\r\n\r\n");
    if (head_end == std::string::npos)
        return false;
    const std::string head = raw.substr(0, head_end + 2);
    answer = Answer();
    size_t at = head.find("\r\n");
    answer.status_line = head.substr(0, at);
    for (size_t next; (next = head.find("\r\n", at + 2)) != std::string::npos; at = next) {
        const std::string line = head.substr(at + 2, next - at - 2);
        if (!is_framing(line))
            answer.headers.push_back(line);
    }
    answer.body = raw.substr(head_end + 4);
    const std::string length = header(head, "content-length");
    if (!length.empty())
        answer.body.resize(
            std::min<size_t>(answer.body.size(), std::strtoul(length.c_str(), nullptr, 10)));
    return true;
}

std::vector<std::string> reframe(const Answer& answer, bool chunked, bool keep,
                                 std::mt19937& random) {
    std::string head = answer.status_line + "\r\n";
    for (const std::string& line : answer.headers)
        head += line + "\r\n";
    head += chunked ? "Transfer-Encoding: chunked\r\n"
                    : "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    head += keep ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    std::vector<std::string> pieces = {head};
    if (!chunked) {
        pieces.push_back(answer.body);
        return pieces;
    }
    std::uniform_int_distribution<size_t> size(1, 700);
    static const char* const digits = "0123456789abcdef";
    for (size_t at = 0; at < answer.body.size();) {
        const size_t n = std::min(size(random), answer.body.size() - at);
        std::string hex;
        for (size_t v = n; v; v /= 16)
            hex.insert(hex.begin(), digits[v % 16]);
        pieces.push_back(hex + "\r\n" + answer.body.substr(at, n) + "\r\n");
        at += n;
    }
    pieces.push_back("0\r\n\r\n");
    return pieces;
}
