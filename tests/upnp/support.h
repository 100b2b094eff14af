#pragma once

#include "FakeGateway.h"
#include "UpnpNat.h"

#include <gtest/gtest.h>

#include <string>

// Short limits: a prompt loopback router answers in well under a millisecond, so these only
// bound the tests that wait for something that never comes.
inline UpnpTimings quick_timings() {
    UpnpTimings t;
    t.connect_timeout_ms = 500;
    t.connect_pause_ms = 5;
    t.read_wait_ms = 300;
    t.ssdp_wait_ms = 1000;
    t.ssdp_idle_ms = 5;
    return t;
}

inline std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline fakegw::Reply no_answer() {
    fakegw::Reply reply;
    reply.silent = true;
    return reply;
}

// A client pointed at a fake gateway on loopback, with the service of a gateway already found.
class GatewayTest : public ::testing::Test {
  protected:
    fakegw::FakeGateway gateway;
    UpnpNat nat;
    std::string printed;

    GatewayTest() {
        nat.ssdp_address = "127.0.0.1";
        nat.ssdp_port = gateway.ssdp_port();
        nat.timings = quick_timings();
        nat.init(3);
        nat.service_type = SERVICE_WANIP;
        nat.control_url = gateway.url("/ctl/IPConn");
    }
    // Runs `call` with what it prints on standard output caught in `printed`.
    template <typename F> bool quietly(F call) {
        testing::internal::CaptureStdout();
        const bool result = call();
        printed = testing::internal::GetCapturedStdout();
        return result;
    }
    std::string connect_error() const {
        return "Fail to connect to 127.0.0.1:" + std::to_string(gateway.http_port()) +
               " (using TCP)\n";
    }
};
