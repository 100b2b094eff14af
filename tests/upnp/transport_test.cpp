#include "support.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A loopback listener whose accept queue is full, so that a further connect is never
// answered: the only way to see a connection attempt time out without leaving loopback.
struct FullListener {
    std::vector<int> fds = {::socket(AF_INET, SOCK_STREAM, 0)};
    uint16_t port = 0;

    FullListener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        ::bind(fds[0], reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fds[0], 0);
        ::getsockname(fds[0], reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
        for (int i = 0; i < 4; ++i) {
            fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(fds.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        sleep_ms(50);
    }
    ~FullListener() {
        for (int fd : fds)
            ::close(fd);
    }
};

TEST(Connect, OpensABlockingConnectionAndDropsAStaleOne) {
    fakegw::FakeGateway gateway;
    UpnpNat nat;
    nat.timings = quick_timings();
    int stale[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, stale), 0);
    nat.tcp_socket = stale[0]; // left open by an earlier exchange
    nat.init(1);
    ASSERT_TRUE(nat.tcp_connect("127.0.0.1", gateway.http_port()));
    EXPECT_EQ(nat.status, 2);
    EXPECT_EQ(::fcntl(nat.tcp_socket, F_GETFL) & O_NONBLOCK, 0);
    char byte;
    EXPECT_EQ(::recv(stale[1], &byte, 1, MSG_DONTWAIT), 0) << "the stale socket was not closed";
    ::close(stale[1]);
    ::close(nat.tcp_socket);
}

TEST(Connect, FailureGivesItsTextAtOnceOrAfterEveryTry) {
    fakegw::FakeGateway untouched;
    fakegw::FakeGateway refusing;
    refusing.stop_http();
    FullListener full;
    struct Case {
        std::string host;
        uint16_t port;
        int tries;
    };
    const Case cases[] = {
        {"127.0.0.1", untouched.http_port(), 0}, // no tries, no attempt
        {"127.0.0.1", refusing.http_port(), 3},
        {"127.0.0.1", full.port, 2}, // each attempt gives up after its limit
        // Only dotted-decimal addresses: a name is never looked up, so these fail at once (a
        // client that tried would sit out the minute-long pauses).
        {"localhost", 80, 60},
        {"", 5000, 60},
        {"127.1", 5000, 60},
        {std::string(600, 'h'), 80, 60}, // a router's long host name still ends in its line end
    };
    for (const Case& c : cases) {
        UpnpNat nat;
        nat.timings = quick_timings();
        nat.timings.connect_timeout_ms = 100;
        nat.timings.connect_pause_ms = c.tries == 60 ? 60000 : 5;
        nat.init(c.tries);
        EXPECT_FALSE(nat.tcp_connect(c.host, c.port));
        EXPECT_EQ(nat.status, 8);
        EXPECT_EQ(nat.last_error,
                  "Fail to connect to " + c.host + ":" + std::to_string(c.port) + " (using TCP)\n");
        EXPECT_EQ(nat.tcp_socket, -1);
    }
    EXPECT_EQ(untouched.connections(), 0u);
}

// The receive loop, fed through a socket pair: the test writes the router's side.
class Receive : public ::testing::Test {
  protected:
    UpnpNat nat;
    int peer = -1;

    Receive() {
        nat.timings = quick_timings();
        connect_pair();
    }
    ~Receive() override {
        ::close(peer);
        ::close(nat.tcp_socket);
    }
    void connect_pair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        nat.tcp_socket = fds[0];
        peer = fds[1];
    }
    // Writes the whole text unless the client has gone (never a signal).
    void put(const std::string& text) {
        for (std::size_t sent = 0; sent < text.size();) {
            const ssize_t n = ::send(peer, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }
};

TEST_F(Receive, EndsAtTheMarkerEvenSplitAcrossChunks) {
    std::thread router([this] {
        put("HTTP/1.1 200 OK\r\n\r\n<s:Envelope a=\"1\"></s:Envel");
        sleep_ms(60);
        put("ope>");
        sleep_ms(800);
        put("LATE");
    });
    nat.timings.read_wait_ms = 2000;
    const std::string text = nat.receive_until("Envelope>", 10);
    router.join();
    EXPECT_EQ(text, "HTTP/1.1 200 OK\r\n\r\n<s:Envelope a=\"1\"></s:Envelope>");
}

TEST_F(Receive, PeerCloseEndsTheAnswerAndAZeroByteEndsTheTextOfItsChunk) {
    put(std::string("HTTP/1.1 500 Internal Server Error\r\n\r\npartial\0hidden", 52));
    ::close(peer);
    peer = -1;
    // A loop that kept waiting would take ten minutes here.
    nat.timings.read_wait_ms = 60000;
    EXPECT_EQ(nat.receive_until("Envelope>", 10),
              "HTTP/1.1 500 Internal Server Error\r\n\r\npartial");
}

TEST_F(Receive, SilencePassesEveryWaitAndGivesNothing) {
    nat.timings.read_wait_ms = 5;
    EXPECT_EQ(nat.receive_until("Envelope>", 3), "");
    EXPECT_NE(::fcntl(nat.tcp_socket, F_GETFD), -1) << "the caller closes the socket";
}

TEST_F(Receive, AnswerUpToTheCapIsKeptAndBeyondItDropped) {
    for (const std::size_t filler : {UpnpNat::kAnswerCap - 9, UpnpNat::kAnswerCap + 1}) {
        std::thread router([this, filler] { put(std::string(filler, 'y') + "Envelope>"); });
        const std::string text = nat.receive_until("Envelope>", 10);
        ::shutdown(nat.tcp_socket, SHUT_RDWR); // lets a blocked writer go
        router.join();
        EXPECT_EQ(text.size(), filler < UpnpNat::kAnswerCap ? UpnpNat::kAnswerCap : 0u);
        ::close(peer);
        ::close(nat.tcp_socket);
        connect_pair();
    }
}

} // namespace
