// pcp/pcp_wire.h — the Port Control Protocol's messages (RFC 6887) as bytes: requests built and
// answers read without any socket, so that tests and the fuzzer reach them directly.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pcp_wire {

// An IPv6 address, or an IPv4 one in its IPv4-mapped form (::ffff:a.b.c.d), as PCP carries both.
using Address = std::array<uint8_t, 16>;
// Ties a mapping's requests together: its renewals and its delete carry the same one.
using Nonce = std::array<uint8_t, 12>;

constexpr uint16_t kServerPort = 5351;       // the router listens here
constexpr uint16_t kAnnouncementPort = 5350; // its unsolicited announcements come here
constexpr uint8_t kVersion = 2;
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kMapSize = kHeaderSize + 36;
constexpr std::size_t kMaxMessage = 1100;

enum Opcode : uint8_t { ANNOUNCE = 0, MAP = 1 };
enum Protocol : uint8_t { TCP = 6, UDP = 17 };
enum Option : uint8_t { THIRD_PARTY = 1, PREFER_FAILURE = 2, FILTER = 3 };
// The router's result codes.
enum Result : int {
    SUCCESS = 0,
    UNSUPP_VERSION = 1,
    NOT_AUTHORIZED = 2,
    MALFORMED_REQUEST = 3,
    UNSUPP_OPCODE = 4,
    UNSUPP_OPTION = 5,
    MALFORMED_OPTION = 6,
    NETWORK_FAILURE = 7,
    NO_RESOURCES = 8,
    UNSUPP_PROTOCOL = 9,
    USER_EX_QUOTA = 10,
    CANNOT_PROVIDE_EXTERNAL = 11,
    ADDRESS_MISMATCH = 12,
    EXCESSIVE_REMOTE_PEERS = 13,
    // This side's, never on the wire:
    NO_ANSWER = -1,         // no answer that counts after the last transmission
    PORT_UNREACHABLE = -2,  // the router's host refused the port: nothing listens for PCP there
    SEND_FAILED = -3,       // a transmission could not go out whole
    INVALID_ARGUMENTS = -4, // not open, or an address that is not numeric text
    SOCKET_ERROR = -5,
};

// Numeric text ("192.168.1.20", "2001:db8::20") to its PCP form; false for anything else.
bool address_of(const std::string& text, Address& address);
// Dotted for the IPv4-mapped form, else IPv6 text.
std::string address_text(const Address& address);
bool is_ipv4(const Address& address);

std::string nonce_hex(const Nonce& nonce);
bool nonce_of_hex(const std::string& hex, Nonce& nonce);
// 96 bits from the kernel's random source; all zero when it has none to give.
Nonce random_nonce();

struct MapRequest {
    Nonce nonce{};
    uint8_t protocol = TCP;
    uint16_t internal_port = 0;
    uint16_t suggested_port = 0;   // 0: no preference
    std::string suggested_address; // empty: no preference, in the family of the client's address
    uint32_t lifetime = 0;         // seconds; 0 deletes the mapping
    std::string third_party;       // another computer's address; empty: the asking one's own
};

// The request bytes from `client` (the address the request leaves from); empty when an address
// of the request is not numeric text.
std::string announce_request(const Address& client);
std::string map_request(const Address& client, const MapRequest& request);

// What an answer must echo to count as the answer to a request.
struct Expected {
    uint8_t opcode = ANNOUNCE;
    // MAP only:
    Nonce nonce{};
    uint8_t protocol = 0;
    uint16_t internal_port = 0;
    bool third_party = false;
    Address third_party_address{};
};

struct Answer {
    int version = 0;
    int result = SUCCESS;
    uint32_t lifetime = 0; // granted; on a refusal, how long it holds
    uint32_t epoch = 0;
    // MAP only: what the router assigned.
    uint16_t external_port = 0;
    Address external_address{};
};

enum class Verdict {
    taken,               // a whole PCP answer to the request, fields in `answer`
    unsupported_version, // a router that speaks an older version (NAT-PMP's is 0): `answer.version`
    dropped,             // anything else: not an answer to this request
};
Verdict read_answer(const unsigned char* bytes, std::size_t size, const Expected& expected,
                    Answer& answer);

// An unsolicited ANNOUNCE answer; false for anything else.
bool read_announcement(const unsigned char* bytes, std::size_t size, uint32_t& epoch);

// The router's epoch across two answers (RFC 6887, section 8.5): it counts seconds from the
// router's start, so an epoch that went back, or moved further than the time between the answers
// allows, tells that the router restarted and has lost its mappings.
class Epoch {
  public:
    using Clock = std::chrono::steady_clock;
    // False when the router restarted since the previous epoch seen; the first one is taken.
    bool observe(uint32_t epoch, Clock::time_point at);
    bool known() const { return known_; }
    uint32_t last() const { return server_; }

  private:
    bool known_ = false;
    uint32_t server_ = 0;
    Clock::time_point client_{};
};

// When to renew a mapping the router granted for `lifetime` seconds: a random moment between
// one half and five eighths of it, so that clients started together do not renew together.
uint32_t renewal_delay(uint32_t lifetime);

// "NOT_AUTHORIZED" and so on; "result N" for a code PCP does not define.
std::string result_name(int code);
// The router's refusal in words for the user; `third_party` when the request was for another
// computer, `deleting` for a delete (lifetime 0), whose refusals say so.
std::string result_words(int code, bool third_party = false, bool deleting = false);

} // namespace pcp_wire
