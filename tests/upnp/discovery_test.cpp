#include "support.h"
#include "wire_text.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

using fakegw::Datagram;

class Discovery : public GatewayTest {
  protected:
    // Runs discovery with standard output captured.
    bool discover(std::string* out = nullptr) {
        testing::internal::CaptureStdout();
        const bool found = nat.discovery();
        const std::string text = testing::internal::GetCapturedStdout();
        if (out)
            *out = text;
        return found;
    }
    void answer_with(std::vector<std::string> answers) {
        std::vector<Datagram> datagrams;
        for (auto& a : answers)
            datagrams.push_back(Datagram{a, 0});
        gateway.set_ssdp_answers(datagrams);
    }
};

TEST_F(Discovery, SendsTheSearchOnceByteForByte) {
    ASSERT_TRUE(discover());
    const auto searches = gateway.ssdp_requests();
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(searches[0], "M-SEARCH * HTTP/1.1\r\n"
                           "HOST:239.255.255.250:1900\r\n"
                           "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                           "Man:\"ssdp:discover\"\r\n"
                           "MX:3\r\n"
                           "\r\n");
    EXPECT_EQ(searches[0].size(), 133u);
}

TEST_F(Discovery, FetchesTheDescriptionWithTheBareGetLine) {
    ASSERT_TRUE(discover());
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, "GET /rootDesc.xml HTTP/1.1\r\nHost: 127.0.0.1:" +
                                   std::to_string(gateway.http_port()) + "\r\n\r\n");
}

TEST_F(Discovery, LeavesTheGatewayReadyForItsDescription) {
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.status, 1);
    EXPECT_EQ(nat.describe_url, gateway.description_url());
    EXPECT_EQ(nat.description, fakegw::http_ok(fakegw::igd_description()).bytes);
    EXPECT_EQ(nat.udp_socket, -1);
    EXPECT_GE(nat.tcp_socket, 0); // closed by the description walk
    EXPECT_TRUE(nat.parse_description());
    EXPECT_EQ(nat.tcp_socket, -1);
}

TEST_F(Discovery, PrintsItsProgress) {
    std::string out;
    ASSERT_TRUE(discover(&out));
    const std::string port = std::to_string(gateway.http_port());
    const std::string answer = fakegw::ssdp_answer(gateway.description_url());
    const std::string head = "22222222 find router\nrecvfrom ret is " +
                             std::to_string(answer.size()) + "\ndiscovery:" + answer +
                             "\nbefore get descripton.....\n"
                             "get_description:describe_url[" +
                             gateway.description_url() + "],host[127.0.0.1],port[" + port +
                             "],path[/rootDesc.xml]\nconnect to router 1111111\n"
                             "111111111111111111\nthe buff is ";
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_TRUE(
        contains(out, "\nresponse is " + nat.description + "\nget description ok xxxxxx\n"));
}

TEST_F(Discovery, TakesTheLocationHeaderNotAnEarlierUrl) {
    // The OPT header's URL leads nowhere; only LOCATION names the description.
    answer_with({"HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
                 "OPT: \"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n"
                 "01-NLS: 1\r\nST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                 "LOCATION: " +
                 gateway.description_url() + "\r\n\r\n"});
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, gateway.description_url());
}

TEST_F(Discovery, LocationHeaderNameInAnyCase) {
    answer_with({"HTTP/1.1 200 OK\r\nX-Other: http://127.0.0.1:1/elsewhere\r\nlocation:" +
                 gateway.description_url() + "  \r\n\r\n"});
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, gateway.description_url());
}

TEST_F(Discovery, WithoutLocationTheFirstUrlIsTaken) {
    answer_with({"HTTP/1.1 200 OK\r\nX-Where: " + gateway.description_url() + "\r\n\r\n"});
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, gateway.description_url());
}

TEST_F(Discovery, AcceptsTwoHundredOkAnywhere) {
    answer_with({"NOTIFY * HTTP/1.1\r\nX-Status: 200 OK\r\nLOCATION: " + gateway.description_url() +
                 "\r\n\r\n"});
    EXPECT_TRUE(discover());
}

class DiscoveryFails : public Discovery {
  protected:
    DiscoveryFails() { nat.timings = impatient_timings(); }
    void expect_not_found() {
        std::string out;
        EXPECT_FALSE(discover(&out));
        EXPECT_EQ(nat.status, 8);
        EXPECT_EQ(nat.last_error, "Fail to find an UPNP NAT.\n");
        EXPECT_EQ(nat.udp_socket, -1);
        printed = out;
    }
    std::string printed;
};

TEST_F(DiscoveryFails, NobodyAnswersInSixPasses) {
    answer_with({});
    expect_not_found();
    std::size_t passes = 0;
    for (std::size_t at = 0; (at = printed.find("recvfrom ret is -1\nccccccccccccccc sleep\n",
                                                at)) != std::string::npos;
         ++at)
        ++passes;
    EXPECT_EQ(passes, 6u);
    EXPECT_EQ(gateway.ssdp_requests().size(), 1u);
}

TEST_F(DiscoveryFails, AnswerWithoutTwoHundredOk) {
    answer_with({"HTTP/1.1 404 Not Found\r\nLOCATION: " + gateway.description_url() + "\r\n\r\n"});
    expect_not_found();
    EXPECT_TRUE(gateway.requests().empty());
}

TEST_F(DiscoveryFails, LinesEndingInABareLineFeed) {
    answer_with({"HTTP/1.1 200 OK\nLOCATION: " + gateway.description_url() + "\n\n"});
    expect_not_found();
    EXPECT_TRUE(gateway.requests().empty());
}

TEST_F(DiscoveryFails, UrlInCapitalsWithoutLocation) {
    answer_with({"HTTP/1.1 200 OK\r\nX-Where: HTTP://127.0.0.1:" +
                 std::to_string(gateway.http_port()) + "/rootDesc.xml\r\n\r\n"});
    expect_not_found();
}

TEST_F(DiscoveryFails, DescriptionOfAnotherDevice) {
    gateway.set_description_text(
        "<root><device><deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>"
        "</device></root>");
    expect_not_found();
    EXPECT_EQ(gateway.requests().size(), 1u);
    EXPECT_EQ(nat.tcp_socket, -1);
}

TEST_F(DiscoveryFails, UrlWithoutPath) {
    answer_with({"HTTP/1.1 200 OK\r\nLOCATION: http://127.0.0.1:" +
                 std::to_string(gateway.http_port()) + "\r\n\r\n"});
    expect_not_found();
    EXPECT_TRUE(contains(printed, "inner get_description error\n"));
}

TEST_F(DiscoveryFails, DescriptionLargerThanTheCap) {
    // The end tag comes only after the cap.
    const std::string body = std::string(UpnpNat::kAnswerCap, ' ') + fakegw::igd_description();
    gateway.set_description(fakegw::http_ok(body));
    nat.timings.read_wait_ms = 500;
    expect_not_found();
    EXPECT_TRUE(nat.description.empty());
}

TEST_F(Discovery, GetDescriptionRefusesAnUnsplittableUrl) {
    nat.describe_url = "http://10.0.0.1:5000";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(nat.get_description());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Failed to parseURl: http://10.0.0.1:5000\n");
}

TEST_F(Discovery, FirstGoodGatewayOfTwoWins) {
    fakegw::FakeGateway other;
    answer_with({fakegw::ssdp_answer(other.description_url()),
                 fakegw::ssdp_answer(gateway.description_url())});
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, other.description_url());
    EXPECT_TRUE(gateway.requests().empty());
}

TEST_F(Discovery, SecondGatewayIsTriedWhenTheFirstCannotBeFetched) {
    fakegw::FakeGateway other;
    other.set_description_text("<root/>");
    answer_with({fakegw::ssdp_answer(other.description_url()),
                 fakegw::ssdp_answer(gateway.description_url())});
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, gateway.description_url());
    EXPECT_EQ(other.requests().size(), 1u);
}

TEST_F(Discovery, DeadFirstUrlIsPassedOver) {
    // A candidate whose description server refuses the connection.
    answer_with({fakegw::ssdp_answer("http://127.0.0.1:1/rootDesc.xml"),
                 fakegw::ssdp_answer(gateway.description_url())});
    nat.init(1);
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.describe_url, gateway.description_url());
}

TEST_F(Discovery, LateAnswerIsStillHeardWithinItsPass) {
    gateway.set_ssdp_answers({Datagram{fakegw::ssdp_answer(gateway.description_url()), 100}});
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.status, 1);
}

TEST_F(Discovery, DescriptionSplitAcrossManyWrites) {
    gateway.set_description(fakegw::split_inside(
        fakegw::split(fakegw::http_ok(fakegw::igd_description()), 7, 2), "</root>", 20));
    ASSERT_TRUE(discover());
    EXPECT_EQ(nat.description, fakegw::http_ok(fakegw::igd_description()).bytes);
}

TEST_F(Discovery, DescriptionWithoutRootEndEndsWithTheConnection) {
    // The capital end tag is no marker; the gateway closing the connection ends the read.
    gateway.set_description_text(fakegw::igd_description() + "</ROOT>");
    ASSERT_TRUE(discover());
    EXPECT_TRUE(contains(nat.description, "</ROOT>"));
}

TEST(DescriptionUrl, FromSsdpAnswers) {
    std::string url;
    EXPECT_TRUE(upnp_wire::description_url_of(
        "HTTP/1.1 200 OK\r\nLOCATION: http://192.168.1.1:5000/rootDesc.xml\r\n\r\n", url));
    EXPECT_EQ(url, "http://192.168.1.1:5000/rootDesc.xml");
    EXPECT_TRUE(upnp_wire::description_url_of(
        "HTTP/1.1 200 OK\r\nLoCaTiOn :\thttp://10.0.0.1/d.xml\r\n", url));
    EXPECT_EQ(url, "http://10.0.0.1/d.xml");
    EXPECT_FALSE(upnp_wire::description_url_of("HTTP/1.1 200 OK\r\n\r\n", url));
    EXPECT_FALSE(upnp_wire::description_url_of("HTTP/1.1 200 OK\r\nLOCATION: http://a/b", url));
    // An empty LOCATION counts as none.
    EXPECT_TRUE(upnp_wire::description_url_of(
        "HTTP/1.1 200 OK\r\nLOCATION:\r\nAL: http://10.0.0.2/x\r\n", url));
    EXPECT_EQ(url, "http://10.0.0.2/x");
}

} // namespace
