#include "pcp_wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <sys/random.h>

namespace pcp_wire {

namespace {

constexpr uint8_t kAnswerBit = 0x80;
constexpr std::size_t kOptionHeader = 4;

void put16(std::string& out, uint16_t value) {
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xff);
}

void put32(std::string& out, uint32_t value) {
    put16(out, static_cast<uint16_t>(value >> 16));
    put16(out, static_cast<uint16_t>(value & 0xffff));
}

void put(std::string& out, const uint8_t* bytes, std::size_t size) {
    out.append(reinterpret_cast<const char*>(bytes), size);
}

uint16_t get16(const unsigned char* at) {
    return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

uint32_t get32(const unsigned char* at) {
    return static_cast<uint32_t>(get16(at)) << 16 | get16(at + 2);
}

std::string header(Opcode opcode, uint32_t lifetime, const Address& client) {
    std::string out{static_cast<char>(kVersion), static_cast<char>(opcode), 0, 0};
    put32(out, lifetime);
    put(out, client.data(), client.size());
    return out;
}

// The options of an answer: each whole and padded within it (so the answer is whole words); a
// THIRD_PARTY one only where the request had one, naming the same computer.
bool options_fit(const unsigned char* bytes, std::size_t size, std::size_t at,
                 const Expected& expected) {
    while (at < size) {
        if (size - at < kOptionHeader)
            return false;
        const std::size_t length = get16(bytes + at + 2);
        const std::size_t padded = (length + 3) / 4 * 4;
        if (size - at - kOptionHeader < padded)
            return false;
        if (bytes[at] == THIRD_PARTY &&
            (!expected.third_party || length != 16 ||
             !std::equal(expected.third_party_address.begin(), expected.third_party_address.end(),
                         bytes + at + kOptionHeader)))
            return false;
        at += kOptionHeader + padded;
    }
    return true;
}

} // namespace

bool address_of(const std::string& text, Address& address) {
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        address.fill(0);
        address[10] = address[11] = 0xff;
        std::copy_n(reinterpret_cast<const uint8_t*>(&v4), 4, address.begin() + 12);
        return true;
    }
    return ::inet_pton(AF_INET6, text.c_str(), address.data()) == 1;
}

bool is_ipv4(const Address& address) {
    static const uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::equal(prefix, prefix + 12, address.begin());
}

std::string address_text(const Address& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const bool v4 = is_ipv4(address);
    ::inet_ntop(v4 ? AF_INET : AF_INET6, address.data() + (v4 ? 12 : 0), text, sizeof text);
    return text;
}

std::string nonce_hex(const Nonce& nonce) {
    std::string hex;
    char byte[3];
    for (const uint8_t b : nonce) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        hex += byte;
    }
    return hex;
}

bool nonce_of_hex(const std::string& hex, Nonce& nonce) {
    if (hex.size() != 2 * nonce.size() ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    for (std::size_t i = 0; i < nonce.size(); ++i)
        nonce[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return true;
}

Nonce random_nonce() {
    Nonce nonce{};
    for (std::size_t got = 0; got < nonce.size();) {
        const ssize_t n = ::getrandom(nonce.data() + got, nonce.size() - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Nonce{};
        got += static_cast<std::size_t>(n);
    }
    return nonce;
}

std::string announce_request(const Address& client) {
    return header(ANNOUNCE, 0, client);
}

std::string map_request(const Address& client, const MapRequest& request) {
    Address third_party{};
    if (!request.third_party.empty() && !address_of(request.third_party, third_party))
        return {};
    // No preference is the all-zero address of the mapping's own family.
    Address suggested{};
    if (!request.suggested_address.empty()) {
        if (!address_of(request.suggested_address, suggested))
            return {};
    } else if (is_ipv4(request.third_party.empty() ? client : third_party)) {
        suggested[10] = suggested[11] = 0xff;
    }
    std::string out = header(MAP, request.lifetime, client);
    put(out, request.nonce.data(), request.nonce.size());
    out += static_cast<char>(request.protocol);
    out.append(3, '\0');
    put16(out, request.internal_port);
    put16(out, request.suggested_port);
    put(out, suggested.data(), suggested.size());
    if (!request.third_party.empty()) {
        out += {static_cast<char>(THIRD_PARTY), 0};
        put16(out, 16);
        put(out, third_party.data(), third_party.size());
    }
    return out;
}

Verdict read_answer(const unsigned char* bytes, std::size_t size, const Expected& expected,
                    Answer& answer) {
    if (size < 8 || size > kMaxMessage || (bytes[1] & kAnswerBit) == 0 ||
        (bytes[1] & ~kAnswerBit) != expected.opcode)
        return Verdict::dropped;
    if (bytes[0] != kVersion) {
        // A NAT-PMP router answers a version it does not speak with its own short header: result
        // 1 in bytes 2 and 3, where a PCP one of an older version has a zero byte and its result.
        if (get16(bytes + 2) != UNSUPP_VERSION)
            return Verdict::dropped;
        answer = Answer{};
        answer.version = bytes[0];
        answer.result = UNSUPP_VERSION;
        answer.epoch = get32(bytes + 4);
        return Verdict::unsupported_version;
    }
    const bool map = expected.opcode == MAP;
    if (size < (map ? kMapSize : kHeaderSize))
        return Verdict::dropped;
    if (map && (!std::equal(expected.nonce.begin(), expected.nonce.end(), bytes + kHeaderSize) ||
                bytes[36] != expected.protocol || get16(bytes + 40) != expected.internal_port))
        return Verdict::dropped;
    if (!options_fit(bytes, size, map ? kMapSize : kHeaderSize, expected))
        return Verdict::dropped;
    answer = Answer{};
    answer.version = kVersion;
    answer.result = bytes[3];
    answer.lifetime = get32(bytes + 4);
    answer.epoch = get32(bytes + 8);
    if (map) {
        answer.external_port = get16(bytes + 42);
        std::copy_n(bytes + 44, answer.external_address.size(), answer.external_address.begin());
    }
    return Verdict::taken;
}

bool read_announcement(const unsigned char* bytes, std::size_t size, uint32_t& epoch) {
    Answer answer;
    if (read_answer(bytes, size, Expected{}, answer) != Verdict::taken || answer.result != SUCCESS)
        return false;
    epoch = answer.epoch;
    return true;
}

} // namespace pcp_wire
