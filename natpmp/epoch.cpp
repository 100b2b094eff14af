#include "NatPmpClient.h"

namespace {

uint32_t word_at(const std::string& bytes, std::size_t at) {
    uint32_t word = 0;
    for (std::size_t i = at; i < at + 4; ++i)
        word = word << 8 | static_cast<unsigned char>(bytes[i]);
    return word;
}

} // namespace

bool announced_epoch(const std::string& datagram, uint32_t& epoch) {
    // Version 0: opcode 128, result, epoch, public address. Version 2: ANNOUNCE with the answer
    // bit, reserved, result, lifetime, epoch, 12 reserved bytes.
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(datagram[at]); };
    if (datagram.size() >= 12 && byte(0) == 0 && byte(1) == 128 && byte(2) == 0 && byte(3) == 0) {
        epoch = word_at(datagram, 4);
        return true;
    }
    if (datagram.size() >= 24 && byte(0) == 2 && byte(1) == 128 && byte(3) == 0) {
        epoch = word_at(datagram, 8);
        return true;
    }
    return false;
}

bool NatPmpClient::take_epoch(uint32_t epoch) {
    const auto now = now_();
    bool restart = false;
    if (has_epoch_) {
        // Each clock may run a sixteenth fast or slow against the other, and a datagram takes up
        // to a second or two on its way; but the gateway's time never goes back.
        const double mine = std::chrono::duration<double>(now - epoch_at_).count();
        const double its = static_cast<double>(epoch) - static_cast<double>(epoch_);
        restart = its < 0 || its + 2 < mine - mine / 16 || mine + 2 < its - its / 16;
        if (restart)
            restart_ = "its epoch went from " + std::to_string(epoch_) + " to " +
                       std::to_string(epoch) + " in " + std::to_string(static_cast<long>(mine)) +
                       " s";
    }
    has_epoch_ = true;
    epoch_ = epoch;
    epoch_at_ = now;
    return restart;
}

bool NatPmpClient::restarted(std::string& why) {
    if (restart_.empty())
        return false;
    why.swap(restart_);
    restart_.clear();
    return true;
}
