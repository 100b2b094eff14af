// The client against a real router: miniupnpd in the lab (scripts/lab), checked against upnpc.
// Run through run_lab_tests.sh, which brings the lab up and starts this binary inside the
// lab's LAN namespace with the lab's addresses in LAB_* variables.

#include "UpnpNat.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string lab_value(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// SSDP goes to the multicast group; that is only safe inside the lab's own LAN namespace.
bool inside_lab_namespace() {
    struct stat own {};
    struct stat lab {};
    const std::string lab_ns = "/run/netns/" + lab_value("LAB_LAN_NS");
    if (lab_value("LAB_LAN_NS").empty() || stat("/proc/self/ns/net", &own) != 0 ||
        stat(lab_ns.c_str(), &lab) != 0) {
        return false;
    }
    return own.st_ino == lab.st_ino && own.st_dev == lab.st_dev;
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    pclose(pipe);
    return out;
}

// upnpc prints a description as the router wrote it in XML; the client decodes it.
std::string xml_text(const std::string& raw) {
    static const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    std::string text = raw;
    for (const auto& [entity, character] : entities) {
        for (size_t at = text.find(entity); at != std::string::npos;
             at = text.find(entity, at + 1)) {
            text.replace(at, std::strlen(entity), character);
        }
    }
    return text;
}

// One row of `upnpc -l`, " 3 UDP 25565->192.168.87.20:25565 'Minecraft Server' '' 0", or
// false for any other line.
bool parse_upnpc_row(const std::string& line, MappingRecord& record) {
    std::istringstream in(line);
    int index = -1;
    std::string protocol, ports;
    if (!(in >> index >> protocol >> ports) || (protocol != "TCP" && protocol != "UDP")) {
        return false;
    }
    const size_t arrow = ports.find("->");
    const size_t colon = ports.rfind(':');
    const size_t open = line.find('\'');
    const size_t close = line.rfind("' '");
    if (arrow == std::string::npos || colon == std::string::npos || colon < arrow ||
        open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    record.protocol = protocol;
    record.external_port = ports.substr(0, arrow);
    record.internal_client = ports.substr(arrow + 2, colon - arrow - 2);
    record.internal_port = ports.substr(colon + 1);
    record.description = xml_text(line.substr(open + 1, close - open - 1));
    return true;
}

// What the router holds, as upnpc lists it: the oracle the client's listing is held against.
std::vector<MappingRecord> upnpc_list() {
    std::istringstream out(run("upnpc -u '" + lab_value("LAB_DESC_URL") + "' -l 2>&1"));
    std::vector<MappingRecord> rows;
    std::string line;
    MappingRecord record;
    while (std::getline(out, line)) {
        if (parse_upnpc_row(line, record)) {
            rows.push_back(record);
        }
    }
    return rows;
}

bool holds(const std::vector<MappingRecord>& list, const MappingRecord& wanted) {
    for (const MappingRecord& r : list) {
        if (r == wanted) {
            return true;
        }
    }
    return false;
}

bool holds_port(const std::vector<MappingRecord>& list, const std::string& port,
                const std::string& protocol) {
    for (const MappingRecord& r : list) {
        if (r.external_port == port && r.protocol == protocol) {
            return true;
        }
    }
    return false;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Lab : public ::testing::Test {
  protected:
    UpnpNat nat;

    void SetUp() override {
        if (lab_value("LAB_MODE").empty()) {
            GTEST_SKIP() << "not started by run_lab_tests.sh (no LAB_MODE)";
        }
        if (!inside_lab_namespace()) {
            GTEST_SKIP() << "not inside the lab's LAN namespace; refusing to send SSDP here";
        }
        nat.init(60);
    }
};

// miniupnpd answering UPnP IGD v1 (and NAT-PMP), preloaded with a handful of mappings whose
// first two are one game server's TCP and UDP mappings under one name.
class IgdLab : public Lab {
  protected:
    std::string log_folder;

    void SetUp() override {
        Lab::SetUp();
        if (IsSkipped()) {
            return;
        }
        ASSERT_EQ(lab_value("LAB_MODE"), "igd") << "the igd tests need `scripts/lab up igd`";
        char folder[] = "/tmp/quaymap-lab-test-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        log_folder = folder;
        nat.log_folder = log_folder;
    }

    void TearDown() override {
        if (!log_folder.empty()) {
            std::remove((log_folder + "/quaymap.log").c_str());
            std::remove(log_folder.c_str());
        }
    }

    void find_gateway() {
        ASSERT_TRUE(nat.discovery()) << nat.last_error;
        ASSERT_TRUE(nat.parse_description()) << nat.last_error;
    }
};

TEST_F(IgdLab, DiscoveryFindsTheLabRouterAndReadsItsName) {
    ASSERT_TRUE(nat.discovery()) << nat.last_error;
    EXPECT_EQ(nat.status, UpnpNat::STATUS_DISCOVERED);
    EXPECT_EQ(nat.describe_url, lab_value("LAB_DESC_URL"));
    EXPECT_NE(nat.description.find("urn:schemas-upnp-org:device:InternetGatewayDevice:1"),
              std::string::npos);

    ASSERT_TRUE(nat.parse_description()) << nat.last_error;
    EXPECT_EQ(nat.status, UpnpNat::STATUS_SERVICE_SELECTED);
    EXPECT_EQ(nat.friendly_name, "Lab Gateway");
    EXPECT_EQ(nat.service_type, SERVICE_WANIP);
    const std::string router =
        "http://" + lab_value("LAB_ROUTER_LAN_IP") + ":" + lab_value("LAB_HTTP_PORT") + "/";
    EXPECT_EQ(nat.control_url.compare(0, router.size(), router), 0) << nat.control_url;
}

TEST_F(IgdLab, ExternalAddressIsTheLabsWanAddress) {
    find_gateway();
    std::string address = "untouched";
    ASSERT_TRUE(nat.get_external_ip(address)) << nat.last_error;
    EXPECT_EQ(nat.status, UpnpNat::STATUS_READ);
    EXPECT_EQ(address, lab_value("LAB_WAN_IP"));
}

TEST_F(IgdLab, ListingMatchesUpnpcEntryForEntry) {
    find_gateway();
    ASSERT_TRUE(nat.get_port_mappings()) << nat.last_error;
    const std::vector<MappingRecord> oracle = upnpc_list();
    ASSERT_FALSE(oracle.empty()) << "upnpc lists nothing: is the lab preloaded?";
    // Same entries in the router's own order: the TCP and UDP mappings of one game server
    // carry one name and are both listed.
    EXPECT_EQ(nat.mappings, oracle);
    EXPECT_EQ(nat.mapping_lines.size(), oracle.size());
    EXPECT_EQ(nat.last_error, "Totally " + std::to_string(oracle.size()) + " mapping entries.\n");
}

TEST_F(IgdLab, TcpAndUdpUnderOneNameAreAddedListedAndOneDeleted) {
    find_gateway();
    const std::string client = lab_value("LAB_CLIENT_IP");
    const MappingRecord tcp{"Lab Test Server", "TCP", "27015", client, "27016"};
    const MappingRecord udp{"Lab Test Server", "UDP", "27015", client, "27016"};

    ASSERT_TRUE(nat.add_port_mapping("Lab Test Server", client, 27015, 27016, "TCP"))
        << nat.last_error;
    EXPECT_EQ(nat.status, UpnpNat::STATUS_CHANGED);
    ASSERT_TRUE(nat.add_port_mapping("Lab Test Server", client, 27015, 27016, "UDP"))
        << nat.last_error;
    EXPECT_EQ(nat.status, UpnpNat::STATUS_CHANGED);
    EXPECT_NE(read_file(log_folder + "/quaymap.log").find("AddPortMappingResponse"),
              std::string::npos)
        << "quaymap.log should hold the router's answer to the latest add";

    ASSERT_TRUE(nat.get_port_mappings()) << nat.last_error;
    EXPECT_TRUE(holds(nat.mappings, tcp));
    EXPECT_TRUE(holds(nat.mappings, udp));
    std::vector<MappingRecord> oracle = upnpc_list();
    EXPECT_TRUE(holds(oracle, tcp));
    EXPECT_TRUE(holds(oracle, udp));
    EXPECT_EQ(nat.mappings, oracle);

    ASSERT_TRUE(nat.del_port_mapping(27015, "UDP")) << nat.last_error;
    EXPECT_EQ(nat.status, UpnpNat::STATUS_CHANGED);
    ASSERT_TRUE(nat.get_port_mappings()) << nat.last_error;
    EXPECT_TRUE(holds(nat.mappings, tcp));
    EXPECT_FALSE(holds_port(nat.mappings, "27015", "UDP"));
    oracle = upnpc_list();
    EXPECT_TRUE(holds(oracle, tcp));
    EXPECT_FALSE(holds_port(oracle, "27015", "UDP")) << "the router still holds the deleted one";

    EXPECT_TRUE(nat.del_port_mapping(27015, "TCP")) << nat.last_error;
    EXPECT_FALSE(holds_port(upnpc_list(), "27015", "TCP"));
}

TEST_F(IgdLab, MarkupInADescriptionReachesTheRouterAsText) {
    find_gateway();
    const std::string name = "Tom & Jerry <dev>";
    const MappingRecord wanted{name, "TCP", "27100", lab_value("LAB_CLIENT_IP"), "80"};
    ASSERT_TRUE(nat.add_port_mapping(name, wanted.internal_client, 27100, 80, "TCP"))
        << nat.last_error;
    ASSERT_TRUE(nat.get_port_mappings()) << nat.last_error;
    EXPECT_TRUE(holds(nat.mappings, wanted));
    EXPECT_TRUE(holds(upnpc_list(), wanted));
    EXPECT_TRUE(nat.del_port_mapping(27100, "TCP")) << nat.last_error;
}

// miniupnpd accepts a DeletePortMapping of a mapping it does not hold, and a second add of a
// held port simply moves it; these are the changes it does refuse. (A host name as the
// internal client is refused too, but only after the router has tried to resolve it.)
TEST_F(IgdLab, RouterRefusalsAreFailuresWithTheRoutersReason) {
    find_gateway();
    const std::vector<MappingRecord> before = upnpc_list();

    EXPECT_FALSE(nat.add_port_mapping("Any Port", lab_value("LAB_CLIENT_IP"), 0, 80, "TCP"));
    EXPECT_EQ(nat.status, UpnpNat::STATUS_FAILED);
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (Any Port/TCP)\n");
    EXPECT_EQ(nat.upnp_error_code, 716); // WildCardNotPermittedInExtPort
    EXPECT_NE(read_file(log_folder + "/quaymap.log").find("<errorCode>716</errorCode>"),
              std::string::npos)
        << "quaymap.log should hold the refusal";

    EXPECT_FALSE(nat.add_port_mapping("Nowhere", "999.1.1.1", 27300, 80, "UDP"));
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (Nowhere/UDP)\n");
    EXPECT_EQ(nat.upnp_error_code, 402); // InvalidArgs

    EXPECT_EQ(upnpc_list(), before);
}

// miniupnpd answering NAT-PMP only: the UPnP search must come back empty-handed.
class NatPmpOnlyLab : public Lab {};

TEST_F(NatPmpOnlyLab, DiscoveryFindsNoGateway) {
    ASSERT_EQ(lab_value("LAB_MODE"), "natpmp") << "needs `scripts/lab up natpmp`";
    // Nobody will answer: shorter passes keep the test quick; the six passes stay.
    nat.timings.ssdp_wait_ms = 200;
    nat.timings.ssdp_idle_ms = 50;
    EXPECT_FALSE(nat.discovery());
    EXPECT_EQ(nat.status, UpnpNat::STATUS_FAILED);
    EXPECT_EQ(nat.last_error, "Fail to find an UPNP NAT.\n");
    EXPECT_EQ(nat.udp_socket, -1);
}

} // namespace
