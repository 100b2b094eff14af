#include "UpnpNat.h"

#include <gtest/gtest.h>

namespace {

struct Split {
    bool ok = false;
    std::string host;
    uint16_t port = 0;
    std::string path;
};

Split split(const std::string& url) {
    Split s;
    s.ok = UpnpNat::parse_url(url, s.host, s.port, s.path);
    return s;
}

TEST(ParseUrl, HostPortAndPath) {
    const Split s = split("http://192.168.1.1:5000/rootDesc.xml");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.host, "192.168.1.1");
    EXPECT_EQ(s.port, 5000);
    EXPECT_EQ(s.path, "/rootDesc.xml");
}

TEST(ParseUrl, NoPortMeansEighty) {
    const Split s = split("http://192.168.1.1/desc.xml");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.host, "192.168.1.1");
    EXPECT_EQ(s.port, 80);
    EXPECT_EQ(s.path, "/desc.xml");
}

TEST(ParseUrl, TrailingSlashIsThePath) {
    const Split s = split("http://10.0.0.1/");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.path, "/");
}

TEST(ParseUrl, QueryAndFragmentStayInThePath) {
    const Split s = split("http://10.0.0.1:80/a?b=c#d");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.path, "/a?b=c#d");
}

TEST(ParseUrl, RefusesUrlsWithoutPathOrScheme) {
    EXPECT_FALSE(split("http://192.168.1.1:5000").ok);
    EXPECT_FALSE(split("http://192.168.1.1").ok);
    EXPECT_FALSE(split("192.168.1.1:80/x").ok);
    EXPECT_FALSE(split("").ok);
}

TEST(ParseUrl, PortTextIsReadLikeAnInteger) {
    EXPECT_EQ(split("http://10.0.0.1:49152abc/x").port, 49152);
    EXPECT_EQ(split("http://10.0.0.1:/x").port, 0);
    EXPECT_EQ(split("http://10.0.0.1: 8080/x").port, 8080);
    EXPECT_EQ(split("http://10.0.0.1:+81/x").port, 81);
}

TEST(ParseUrl, PortKeepsItsLowSixteenBits) {
    EXPECT_EQ(split("http://10.0.0.1:70000/x").port, 4464);
    EXPECT_EQ(split("http://10.0.0.1:65536/x").port, 0);
    EXPECT_EQ(split("http://10.0.0.1:-1/x").port, 65535);
    // Far beyond any integer: still cut (under UBSan: without overflow).
    EXPECT_TRUE(split("http://10.0.0.1:99999999999999999999999/x").ok);
}

TEST(ParseUrl, AnySchemeIsAccepted) {
    const Split s = split("ftp://10.0.0.1/x");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.host, "10.0.0.1");
    EXPECT_EQ(s.port, 80);
    EXPECT_EQ(s.path, "/x");
}

TEST(ParseUrl, ColonOnlyInThePathNamesNoPort) {
    const Split s = split("http://10.0.0.1/a:b");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.host, "10.0.0.1");
    EXPECT_EQ(s.port, 80);
    EXPECT_EQ(s.path, "/a:b");
}

TEST(ClientObject, StartsEmpty) {
    UpnpNat nat;
    EXPECT_TRUE(nat.last_response.empty());
    EXPECT_TRUE(nat.mapping_lines.empty());
    EXPECT_TRUE(nat.mappings.empty());
    EXPECT_TRUE(nat.friendly_name.empty());
    EXPECT_TRUE(nat.last_error.empty());
    EXPECT_EQ(nat.udp_socket, -1);
    EXPECT_EQ(nat.tcp_socket, -1);
    EXPECT_EQ(nat.status, 0);
    EXPECT_EQ(nat.connect_tries, 0);
    EXPECT_TRUE(nat.control_url.empty());
    EXPECT_EQ(nat.ssdp_address, "239.255.255.250");
    EXPECT_EQ(nat.ssdp_port, 1900);
}

TEST(ClientObject, DefaultLimitsAreTheRoutersOwn) {
    const UpnpTimings t;
    EXPECT_EQ(t.connect_timeout_ms, 1000);
    EXPECT_EQ(t.connect_pause_ms, 1000);
    EXPECT_EQ(t.read_wait_ms, 1000);
    EXPECT_EQ(t.ssdp_wait_ms, 5000);
    EXPECT_EQ(t.ssdp_idle_ms, 1000);
}

TEST(ClientObject, InitChangesOnlyStatusAndTries) {
    UpnpNat nat;
    nat.friendly_name = "Old";
    nat.last_error = "x\n";
    nat.mappings.push_back({"a", "TCP", "1", "10.0.0.2", "1"});
    nat.status = 8;
    EXPECT_TRUE(nat.init(60));
    EXPECT_EQ(nat.status, 0);
    EXPECT_EQ(nat.connect_tries, 60);
    EXPECT_EQ(nat.friendly_name, "Old");
    EXPECT_EQ(nat.last_error, "x\n");
    EXPECT_EQ(nat.mappings.size(), 1u);
}

TEST(ClientObject, ServiceTypes) {
    EXPECT_STREQ(SERVICE_WANIP, "urn:schemas-upnp-org:service:WANIPConnection:1");
    EXPECT_STREQ(SERVICE_WANPPP, "urn:schemas-upnp-org:service:WANPPPConnection:1");
}

} // namespace
