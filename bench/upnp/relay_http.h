// The HTTP the lab's re-framing relay speaks: requests read by their length, miniupnpd's
// answers taken apart and sent on in another framing.
#pragma once

#include <netinet/in.h>

#include <random>
#include <string>
#include <vector>

// A whole request (head and Content-Length body) from `fd`; false at the peer's close, on an
// error, or after `idle_ms` without a byte.
bool read_request(int fd, std::string& request, int idle_ms);

// `request` with its Host header naming `host` instead.
std::string with_host(const std::string& request, const std::string& host);

// One exchange with the router on a connection of its own, its answer read to the close.
bool pass_on(const sockaddr_in& to, const std::string& request, std::string& answer);

struct Answer {
    std::string status_line;          // without its line end
    std::vector<std::string> headers; // without framing and connection headers
    std::string body;
};

// miniupnpd's answer: framed by Content-Length, or running to the close.
bool split_answer(const std::string& raw, Answer& answer);

// The answer as the pieces to send, each in a send of its own: the head, then the body whole
// (Content-Length) or as chunks of random sizes.
std::vector<std::string> reframe(const Answer& answer, bool chunked, bool keep,
                                 std::mt19937& random);
