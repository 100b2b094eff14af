// Feeds any bytes, as a datagram from the router, to everything that reads PCP answers. No input
// may crash or be taken unless it is a whole answer that echoes the request.
#include "pcp_wire.h"

#include <cstdlib>
#include <cstring>

static void check(bool condition) {
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pcp_wire;
    Expected map{MAP, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, TCP, 8080}, other = map;
    other.third_party = address_of("192.168.87.21", other.third_party_address);
    for (const Expected& expected : {Expected{}, map, other}) {
        Answer answer;
        const Verdict verdict = read_answer(data, size, expected, answer);
        check(verdict != Verdict::taken ||
              (size >= kHeaderSize && size <= kMaxMessage && size % 4 == 0 && data[0] == 2 &&
               data[1] == (0x80 | expected.opcode) && answer.result == data[3] &&
               (expected.opcode != MAP ||
                (size >= kMapSize && std::memcmp(data + 24, expected.nonce.data(), 12) == 0 &&
                 data[36] == TCP && answer.external_port == (data[42] << 8 | data[43])))));
        check(verdict != Verdict::unsupported_version ||
              (size >= 8 && data[0] != 2 && answer.result == UNSUPP_VERSION));
    }
    uint32_t epoch = 0;
    check(!read_announcement(data, size, epoch) || (size >= kHeaderSize && data[1] == 0x80));
    Address address{}, back{};
    std::memcpy(address.data(), data, size < 16 ? size : 16);
    check(address_of(address_text(address), back) && back == address);
    return 0;
}
