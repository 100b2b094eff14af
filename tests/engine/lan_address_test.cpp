// This computer's own addresses: which IPv6 address a pinhole may open, from the kernel's list.
#include "lan_address.h"

#include <gtest/gtest.h>

TEST(LanAddress, OnlyAStableGlobalIpv6AddressIsTaken) {
    // Temporary, deprecated, tentative, failed, unique local, link-local, loopback; then stable.
    const auto list = quaymap::ipv6_addresses("20010db80087000012345678abcdef01 02 40 00 01 eth0\n"
                                              "20010db8008700000000000000000021 02 40 00 a0 eth0\n"
                                              "20010db80087000000000000000000aa 02 40 00 c0 eth0\n"
                                              "20010db80087000000000000000000bb 02 40 00 88 eth0\n"
                                              "fd000000000000000000000000000002 02 40 00 80 eth0\n"
                                              "fe80000000000000f8a3dffffe3dfd6e 02 40 20 80 eth0\n"
                                              "00000000000000000000000000000001 01 80 10 80 lo\n"
                                              "20010db8008700000000000000000020 02 40 00 80 eth0\n"
                                              "20010db8008700000000000000000030 02 40 00 00 eth0\n"
                                              "20010db8009900000000000000000005 03 40 00 00 wlan0\n"
                                              "not a line\n");
    ASSERT_EQ(list.size(), 10u);
    // The interface, the address the system would send from, and the one taken.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"eth0", "", "2001:db8:87::20"},
        {"eth0", "2001:db8:87::30", "2001:db8:87::30"},
        {"eth0", "2001:db8:87:0:1234:5678:abcd:ef01", "2001:db8:87::20"},
        {"eth0", "2001:db8:99::5", "2001:db8:87::20"},
        {"wlan0", "", "2001:db8:99::5"},
        {"lo", "::1", ""},
        {"", "2001:db8:99::5", "2001:db8:99::5"},
    };
    for (const auto& [interface, preferred, taken] : cases)
        EXPECT_EQ(quaymap::stable_global_ipv6(list, interface, preferred), taken) << interface;
    // Loopback has no such address; a router that is no numeric address, no way to it.
    EXPECT_EQ(quaymap::local_address_towards("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(quaymap::global_ipv6_towards("127.0.0.1") + quaymap::global_ipv6_towards("::1") +
                  quaymap::global_ipv6_towards("router.lan") +
                  quaymap::local_address_towards("127.1"),
              "");
}
