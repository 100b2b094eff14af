#include "support.h"

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A private folder for "quaymap.log", removed with everything in it.
class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/quaymap-log-XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~TempFolder() {
        for (const std::string& f : files())
            ::unlink((path_ + "/" + f).c_str());
        ::rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        if (DIR* d = ::opendir(path_.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    out.push_back(e->d_name);
            ::closedir(d);
        }
        return out;
    }
    bool has(const std::string& name) const {
        struct stat st {};
        return ::stat((path_ + "/" + name).c_str(), &st) == 0;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path_ + "/" + name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    std::string path_;
};

class PortMapping : public GatewayTest {
  protected:
    TempFolder folder;
    PortMapping() {
        select_service();
        nat.log_folder = folder.path();
    }
    bool add(const std::string& description, const std::string& client, uint16_t external,
             uint16_t internal, const std::string& protocol, std::string* out = nullptr) {
        testing::internal::CaptureStdout();
        const bool ok = nat.add_port_mapping(description, client, external, internal, protocol);
        const std::string printed = testing::internal::GetCapturedStdout();
        if (out)
            *out = printed;
        return ok;
    }
};

TEST_F(PortMapping, AddReachesTheRouter) {
    ASSERT_TRUE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    EXPECT_EQ(nat.status, 5);
    EXPECT_EQ(nat.tcp_socket, -1);
    const auto held = gateway.entries();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].description, "web");
    EXPECT_EQ(held[0].external_port, "8080");
    EXPECT_EQ(held[0].internal_port, "80");
    EXPECT_EQ(held[0].internal_client, "192.168.1.20");
    EXPECT_EQ(held[0].protocol, "TCP");
    EXPECT_EQ(held[0].enabled, "1");
    EXPECT_EQ(held[0].lease_duration, "0");
    EXPECT_EQ(held[0].remote_host, "");
    EXPECT_TRUE(nat.mappings.empty()) << "the list is only read by the enumeration";
}

TEST_F(PortMapping, AddMarksItsReceiveLoop) {
    std::string out;
    ASSERT_TRUE(add("web", "192.168.1.20", 8080, 80, "TCP", &out));
    EXPECT_EQ(out, "aaaaaaaaaaaaaaaaaaaaaaaaaa\nbbbbbbbbbbbbbbbb\n");
}

TEST_F(PortMapping, AddMarksEveryChunkWithoutTheMarker) {
    gateway.script("AddPortMapping", fakegw::split_inside(fakegw::soap_ok("AddPortMapping", ""),
                                                          "</s:Envelope>", 300));
    nat.timings.read_wait_ms = 5000; // no wait runs out between the two writes
    std::string out;
    ASSERT_TRUE(add("web", "192.168.1.20", 8080, 80, "TCP", &out));
    EXPECT_EQ(out, "aaaaaaaaaaaaaaaaaaaaaaaaaa\ncccccccccccccccccccc\nbbbbbbbbbbbbbbbb\n");
}

TEST_F(PortMapping, DescriptionIsEscapedOnTheWire) {
    ASSERT_TRUE(add("<b>Tom & Jerry's \"game\"</b>", "192.168.1.20", 27015, 27015, "UDP"));
    const std::string body = gateway.requests().at(0).body;
    EXPECT_TRUE(contains(body, "<NewPortMappingDescription>&lt;b&gt;Tom &amp; Jerry&apos;s "
                               "&quot;game&quot;&lt;/b&gt;</NewPortMappingDescription>"));
    EXPECT_EQ(gateway.entries().at(0).description, "<b>Tom & Jerry's \"game\"</b>");
}

TEST_F(PortMapping, ClientAndProtocolAreEscapedToo) {
    gateway.script("AddPortMapping", fakegw::soap_ok("AddPortMapping", ""));
    ASSERT_TRUE(add("x", "1.2.3.4<a/>", 1, 2, "TCP&"));
    const std::string body = gateway.requests().at(0).body;
    EXPECT_TRUE(contains(body, "<NewInternalClient>1.2.3.4&lt;a/&gt;</NewInternalClient>"));
    EXPECT_TRUE(contains(body, "<NewProtocol>TCP&amp;</NewProtocol>"));
}

TEST_F(PortMapping, RefusalKeepsTheRoutersReason) {
    gateway.set_entries({{"8080", "TCP", "80", "192.168.1.99", "other"}});
    EXPECT_FALSE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (web/TCP)\n");
    EXPECT_EQ(nat.upnp_error_code, 718);
    EXPECT_EQ(nat.upnp_error_description, "ConflictInMappingEntry");
    EXPECT_EQ(nat.tcp_socket, -1);
}

TEST_F(PortMapping, SuccessClearsAnEarlierReason) {
    gateway.set_entries({{"8080", "TCP", "80", "192.168.1.99", "other"}});
    EXPECT_FALSE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    ASSERT_TRUE(add("web", "192.168.1.20", 8081, 80, "TCP"));
    EXPECT_EQ(nat.upnp_error_code, 0);
    EXPECT_EQ(nat.upnp_error_description, "");
}

TEST_F(PortMapping, LogHoldsTheRawAnswerOfTheLatestAdd) {
    const fakegw::Reply reply = fakegw::soap_ok("AddPortMapping", "");
    ASSERT_TRUE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    EXPECT_EQ(folder.read("quaymap.log"), reply.bytes);
    gateway.set_entries({{"9000", "UDP", "9000", "192.168.1.99", "other"}});
    EXPECT_FALSE(add("game", "192.168.1.20", 9000, 9000, "UDP"));
    EXPECT_EQ(folder.read("quaymap.log"), fakegw::soap_fault(718, "ConflictInMappingEntry").bytes);
    EXPECT_EQ(folder.files(), std::vector<std::string>{"quaymap.log"}) << "no temporary left";
}

TEST_F(PortMapping, SilentRouterLeavesAnEmptyLog) {
    ASSERT_TRUE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    fakegw::Reply silent;
    silent.silent = true;
    gateway.script("AddPortMapping", silent);
    nat.timings.read_wait_ms = 5;
    std::string out;
    EXPECT_FALSE(add("web", "192.168.1.20", 8081, 80, "TCP", &out));
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (web/TCP)\n");
    EXPECT_TRUE(folder.has("quaymap.log"));
    EXPECT_EQ(folder.read("quaymap.log"), "");
    EXPECT_EQ(nat.upnp_error_code, 0);
    // One mark for each of the 30 waits that brought nothing.
    std::size_t marks = 0;
    for (std::size_t at = 0; (at = out.find("cccccccccccccccccccc\n", at)) != std::string::npos;
         ++at)
        ++marks;
    EXPECT_GE(marks, 1u);
    EXPECT_LE(marks, 30u) << out;
}

TEST_F(PortMapping, UnwritableLogFolderIsIgnored) {
    nat.log_folder = folder.path() + "/missing/deeper";
    EXPECT_TRUE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    nat.log_folder.clear();
    EXPECT_TRUE(add("web2", "192.168.1.20", 8081, 80, "TCP"));
    EXPECT_TRUE(folder.files().empty());
}

TEST_F(PortMapping, ErrorPageWithTwoHundredOkInItsBodyIsARefusal) {
    gateway.script("AddPortMapping",
                   fakegw::http_status(500, "Internal Server Error", "<p>not 200 OK</p>"));
    EXPECT_FALSE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    EXPECT_EQ(nat.last_error, "Fail to add port mapping (web/TCP)\n");
}

TEST_F(PortMapping, LateAnswerWithinTheAddLimitIsHeard) {
    fakegw::Reply slow = fakegw::soap_ok("AddPortMapping", "");
    slow.delay_ms = 300;
    gateway.script("AddPortMapping", slow);
    nat.timings.read_wait_ms = 20; // 30 waits of 20 ms outlast the delay
    EXPECT_TRUE(add("web", "192.168.1.20", 8080, 80, "TCP"));
}

TEST_F(PortMapping, SameDelayIsTooLongForADelete) {
    fakegw::Reply slow = fakegw::soap_ok("DeletePortMapping", "");
    slow.delay_ms = 600;
    gateway.script("DeletePortMapping", slow);
    nat.timings.read_wait_ms = 20; // 10 waits of 20 ms do not
    EXPECT_FALSE(nat.del_port_mapping(8080, "TCP"));
    EXPECT_EQ(nat.last_error, "Fail to del port mapping (TCP/8080)\n");
}

TEST_F(PortMapping, DeleteRemovesTheMapping) {
    gateway.set_entries({{"8080", "UDP", "80", "192.168.1.20", "web"},
                         {"8080", "TCP", "80", "192.168.1.20", "web"}});
    testing::internal::CaptureStdout();
    EXPECT_TRUE(nat.del_port_mapping(8080, "UDP"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a delete prints nothing";
    EXPECT_EQ(nat.status, 5);
    EXPECT_EQ(nat.tcp_socket, -1);
    ASSERT_EQ(gateway.entries().size(), 1u);
    EXPECT_EQ(gateway.entries()[0].protocol, "TCP");
    EXPECT_TRUE(folder.files().empty()) << "a delete writes no log";
}

TEST_F(PortMapping, DeletingAnUnknownMappingFails) {
    EXPECT_FALSE(nat.del_port_mapping(1234, "TCP"));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to del port mapping (TCP/1234)\n");
    EXPECT_EQ(nat.upnp_error_code, 714);
    EXPECT_EQ(nat.upnp_error_description, "NoSuchEntryInArray");
}

TEST_F(PortMapping, FailuresBeforeSendingKeepTheirOwnTexts) {
    nat.control_url = "";
    EXPECT_FALSE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    EXPECT_EQ(nat.last_error, "Fail to parseURl: \n");
    EXPECT_FALSE(folder.has("quaymap.log"));
    EXPECT_FALSE(nat.del_port_mapping(8080, "UDP"));
    EXPECT_EQ(nat.last_error, "Fail to parseURl: \n");
    select_service();
    gateway.stop_http();
    EXPECT_FALSE(nat.del_port_mapping(8080, "UDP"));
    EXPECT_EQ(nat.last_error, "Fail to connect to 127.0.0.1:" +
                                  std::to_string(gateway.http_port()) + " (using TCP)\n");
    EXPECT_FALSE(add("web", "192.168.1.20", 8080, 80, "TCP"));
    EXPECT_EQ(nat.status, 8);
    EXPECT_FALSE(folder.has("quaymap.log"));
}

TEST_F(PortMapping, EarlyCloseIsARefusal) {
    fakegw::Reply cut = fakegw::soap_ok("DeletePortMapping", "");
    cut.close_after = 8; // "HTTP/1.1"
    gateway.script("DeletePortMapping", cut);
    EXPECT_FALSE(nat.del_port_mapping(8080, "TCP"));
    EXPECT_EQ(nat.last_error, "Fail to del port mapping (TCP/8080)\n");
}

} // namespace
