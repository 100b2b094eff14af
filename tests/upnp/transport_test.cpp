#include "support.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// A loopback TCP port on which nothing listens (bound, never listened on).
class ClosedPort {
  public:
    ClosedPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
    }
    ~ClosedPort() { ::close(fd_); }
    uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A loopback listener whose accept queue is full, so that a further connect is never
// answered: the only way to see a connection attempt time out without leaving loopback.
class FullListener {
  public:
    FullListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 0);
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
        for (int i = 0; i < 4; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers_.push_back(c);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~FullListener() {
        for (int c : fillers_)
            ::close(c);
        ::close(fd_);
    }
    uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

bool is_open(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

class Connect : public ::testing::Test {
  protected:
    UpnpNat nat;
    Connect() { nat.timings = quick_timings(); }
};

TEST_F(Connect, OpensABlockingConnection) {
    fakegw::FakeGateway gateway;
    nat.init(1);
    ASSERT_TRUE(nat.tcp_connect("127.0.0.1", gateway.http_port()));
    EXPECT_EQ(nat.status, 2);
    ASSERT_GE(nat.tcp_socket, 0);
    EXPECT_EQ(::fcntl(nat.tcp_socket, F_GETFL) & O_NONBLOCK, 0);
    ::close(nat.tcp_socket);
}

TEST_F(Connect, NoTriesMakesNoAttempt) {
    fakegw::FakeGateway gateway;
    nat.init(0);
    EXPECT_FALSE(nat.tcp_connect("127.0.0.1", gateway.http_port()));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error, "Fail to connect to 127.0.0.1:" +
                                  std::to_string(gateway.http_port()) + " (using TCP)\n");
    EXPECT_EQ(nat.tcp_socket, -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(gateway.connections(), 0u);
}

TEST_F(Connect, RefusedPortFailsAfterEveryTry) {
    ClosedPort closed;
    nat.init(3);
    EXPECT_FALSE(nat.tcp_connect("127.0.0.1", closed.port()));
    EXPECT_EQ(nat.status, 8);
    EXPECT_EQ(nat.last_error,
              "Fail to connect to 127.0.0.1:" + std::to_string(closed.port()) + " (using TCP)\n");
}

TEST_F(Connect, NameIsNeverLookedUp) {
    // With a pause of a minute between attempts, a client that tried would hang the test.
    nat.timings.connect_pause_ms = 60000;
    nat.init(60);
    EXPECT_FALSE(nat.tcp_connect("localhost", 80));
    EXPECT_EQ(nat.last_error, "Fail to connect to localhost:80 (using TCP)\n");
    EXPECT_FALSE(nat.tcp_connect("", 5000));
    EXPECT_EQ(nat.last_error, "Fail to connect to :5000 (using TCP)\n");
    EXPECT_FALSE(nat.tcp_connect("127.1", 5000)); // not dotted-decimal in full
    EXPECT_EQ(nat.status, 8);
}

TEST_F(Connect, UnansweredAttemptGivesUp) {
    FullListener full;
    nat.timings.connect_timeout_ms = 100;
    nat.init(2);
    EXPECT_FALSE(nat.tcp_connect("127.0.0.1", full.port()));
    EXPECT_EQ(nat.last_error,
              "Fail to connect to 127.0.0.1:" + std::to_string(full.port()) + " (using TCP)\n");
}

TEST_F(Connect, ANewConnectionDropsTheStaleOne) {
    fakegw::FakeGateway gateway;
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    nat.tcp_socket = pair[0]; // left open by an earlier exchange
    nat.init(1);
    ASSERT_TRUE(nat.tcp_connect("127.0.0.1", gateway.http_port()));
    char byte;
    EXPECT_EQ(::recv(pair[1], &byte, 1, MSG_DONTWAIT), 0) << "the stale socket was not closed";
    ::close(pair[1]);
    ::close(nat.tcp_socket);
}

// The receive loop, fed through a socket pair: the test writes the router's side.
class Receive : public ::testing::Test {
  protected:
    UpnpNat nat;
    int peer = -1;

    Receive() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        nat.tcp_socket = fds[0];
        peer = fds[1];
        nat.timings = quick_timings();
    }
    ~Receive() override {
        if (peer >= 0)
            ::close(peer);
        if (nat.tcp_socket >= 0)
            ::close(nat.tcp_socket);
    }
    // Writes the whole text unless the client has gone (never a signal).
    void put(const std::string& text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::send(peer, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }
    void hang_up() {
        ::close(peer);
        peer = -1;
    }
};

TEST_F(Receive, StopsAtTheMarker) {
    put("HTTP/1.1 200 OK\r\n\r\n<s:Envelope></s:Envelope>");
    std::thread later([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        put("LATE");
    });
    nat.timings.read_wait_ms = 2000;
    const std::string text = nat.receive_until("Envelope>", 10);
    later.join();
    EXPECT_EQ(text, "HTTP/1.1 200 OK\r\n\r\n<s:Envelope></s:Envelope>");
}

TEST_F(Receive, FindsAMarkerSplitAcrossChunks) {
    std::thread router([this] {
        put("HTTP/1.1 200 OK\r\n\r\n<s:Envelope a=\"1\"></s:Envel");
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        put("ope>");
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        put("LATE");
    });
    nat.timings.read_wait_ms = 2000;
    const std::string text = nat.receive_until("Envelope>", 10);
    router.join();
    EXPECT_EQ(text, "HTTP/1.1 200 OK\r\n\r\n<s:Envelope a=\"1\"></s:Envelope>");
}

TEST_F(Receive, StopsWhenThePeerCloses) {
    put("HTTP/1.1 500 Internal Server Error\r\n\r\npartial");
    hang_up();
    // A loop that kept waiting would take ten minutes here.
    nat.timings.read_wait_ms = 60000;
    EXPECT_EQ(nat.receive_until("Envelope>", 10),
              "HTTP/1.1 500 Internal Server Error\r\n\r\npartial");
}

TEST_F(Receive, SilencePassesEveryWaitAndGivesNothing) {
    nat.timings.read_wait_ms = 5;
    EXPECT_EQ(nat.receive_until("Envelope>", 3), "");
    EXPECT_NE(::fcntl(nat.tcp_socket, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_TRUE(is_open(nat.tcp_socket));
}

TEST_F(Receive, CollectsAnAnswerWrittenInManyPieces) {
    const std::string whole =
        "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n<s:Envelope>x</s:Envelope>";
    std::thread router([this, whole] {
        for (char c : whole) {
            put(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(nat.receive_until("</s:Envelope>", 10), whole);
    router.join();
}

TEST_F(Receive, ZeroByteEndsTheTextOfItsChunk) {
    put(std::string("HTTP/1.1 200 OK\r\n\0hidden", 24));
    hang_up();
    EXPECT_EQ(nat.receive_until("Envelope>", 10), "HTTP/1.1 200 OK\r\n");
}

TEST_F(Receive, AnswerBeyondTheCapIsDropped) {
    std::thread router([this] {
        const std::string block(64 * 1024, 'x');
        std::size_t sent = 0;
        while (sent <= UpnpNat::kAnswerCap) {
            const ssize_t n = ::send(peer, block.data(), block.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        put("Envelope>");
    });
    EXPECT_EQ(nat.receive_until("Envelope>", 10), "");
    ::shutdown(nat.tcp_socket, SHUT_RDWR); // lets a blocked writer go
    router.join();
}

TEST_F(Receive, AnswerJustBelowTheCapIsKept) {
    std::thread router([this] { put(std::string(UpnpNat::kAnswerCap - 9, 'y') + "Envelope>"); });
    const std::string text = nat.receive_until("Envelope>", 10);
    router.join();
    EXPECT_EQ(text.size(), UpnpNat::kAnswerCap);
}

TEST_F(Receive, WithoutASocketNothingIsRead) {
    ::close(nat.tcp_socket);
    nat.tcp_socket = -1;
    EXPECT_EQ(nat.receive_until("Envelope>", 10), "");
}

} // namespace
