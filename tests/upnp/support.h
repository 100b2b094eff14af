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

// Limits for tests that wait out a silent router.
inline UpnpTimings impatient_timings() {
    UpnpTimings t = quick_timings();
    t.read_wait_ms = 10;
    t.ssdp_wait_ms = 10;
    return t;
}

// A client pointed at a fake gateway on loopback.
class GatewayTest : public ::testing::Test {
  protected:
    fakegw::FakeGateway gateway;
    UpnpNat nat;

    GatewayTest() {
        nat.ssdp_address = "127.0.0.1";
        nat.ssdp_port = gateway.ssdp_port();
        nat.timings = quick_timings();
        nat.init(3);
    }

    // A client that already knows the gateway's control URL, as after a found gateway.
    void select_service(const std::string& path = "/ctl/IPConn") {
        nat.service_type = fakegw::kServiceWanIp;
        nat.control_url = gateway.url(path);
    }
};

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
