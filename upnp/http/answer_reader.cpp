#include "answer_reader.h"

#include <cctype>
#include <cstring>
#include <string_view>
#include <strings.h>

namespace upnp_http {

namespace {

// Chunk-size and trailer lines are short; a longer one is no framing anyone sends.
constexpr std::size_t kLineCap = 4096;

std::string_view trimmed(std::string_view text) {
    std::size_t from = 0, to = text.size();
    while (from < to && (text[from] == ' ' || text[from] == '\t'))
        ++from;
    while (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t' || text[to - 1] == '\r'))
        --to;
    return text.substr(from, to - from);
}

// The name runs from the start of the line to its colon: blanks around it make another name.
bool named(std::string_view name, const char* wanted) {
    return name.size() == std::char_traits<char>::length(wanted) &&
           ::strncasecmp(name.data(), wanted, name.size()) == 0;
}

// "HTTP/1.1 200 OK": the code, or 0 when the line is no status line.
int status_of(std::string_view line) {
    if (line.size() < 5 || ::strncasecmp(line.data(), "HTTP/", 5) != 0)
        return 0;
    std::size_t p = line.find(' ');
    if (p == std::string_view::npos)
        return 0;
    while (p < line.size() && line[p] == ' ')
        ++p;
    int code = 0;
    for (std::size_t end = p + 3; p < end; ++p) {
        if (p >= line.size() || !std::isdigit(static_cast<unsigned char>(line[p])))
            return 0;
        code = code * 10 + (line[p] - '0');
    }
    return p == line.size() || line[p] == ' ' || line[p] == '\r' ? code : 0;
}

} // namespace

void append_received(std::string& text, const char* data, std::size_t size) {
    text.reserve(text.size() + size);
    for (const char* zero;
         size > 0 && (zero = static_cast<const char*>(std::memchr(data, 0, size)));) {
        text.append(data, static_cast<std::size_t>(zero - data));
        text += "\xEF\xBF\xBD";
        size -= static_cast<std::size_t>(zero - data) + 1;
        data = zero + 1;
    }
    text.append(data, size);
}

AnswerReader::AnswerReader(std::size_t body_cap) : body_cap_(body_cap) {}

AnswerReader::State AnswerReader::fail(const std::string& why) {
    error_ = why;
    return state_ = State::bad;
}

AnswerReader::State AnswerReader::feed(const char* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size && (state_ == State::head || state_ == State::body)) {
        const std::size_t rest = size - at;
        std::size_t used = rest;
        if (state_ == State::head) {
            take_head(data + at, rest, used);
        } else if (framing_ == Framing::chunked) {
            take_chunked(data + at, rest);
            return state_;
        } else {
            take_body(data + at, rest);
            return state_;
        }
        at += used;
    }
    return state_;
}

void AnswerReader::take_head(const char* data, std::size_t size, std::size_t& used) {
    const std::size_t before = head_.size();
    head_.append(data, size);
    if (head_.size() >= 5 && ::strncasecmp(head_.c_str(), "HTTP/", 5) != 0) {
        fail("it is no HTTP answer");
        return;
    }
    // Header lines end in CR LF; a bare LF is taken too, as routers write either: the header ends
    // at the first LF followed by LF or by CR LF.
    std::size_t end = std::string::npos, blank = 0;
    for (std::size_t p = before >= 3 ? before - 3 : 0;
         end == std::string::npos && (p = head_.find('\n', p)) != std::string::npos; ++p) {
        if (p + 1 < head_.size() && head_[p + 1] == '\n')
            end = p, blank = 2;
        else if (p + 2 < head_.size() && head_[p + 1] == '\r' && head_[p + 2] == '\n')
            end = p, blank = 3;
    }
    if (end == std::string::npos) {
        if (head_.size() > kHeadCap)
            fail("its header is longer than 64 KiB");
        return;
    }
    end += blank;
    used = end - before;
    head_.resize(end);
    const std::string_view head(head_);
    status_ = status_of(head.substr(0, head.find('\n')));
    if (status_ == 0) {
        fail("its status line cannot be read");
        return;
    }
    // An interim answer (100 Continue) stands before the real one.
    if (status_ < 200) {
        head_.clear();
        status_ = 0;
        return;
    }
    start_body();
}

void AnswerReader::start_body() {
    state_ = State::body;
    bool has_length = false;
    const std::string_view head(head_);
    for (std::size_t line = head.find('\n') + 1; line < head.size();) {
        std::size_t next = head.find('\n', line);
        if (next == std::string_view::npos)
            next = head.size();
        const std::string_view text = head.substr(line, next - line);
        line = next + 1;
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = text.substr(0, colon);
        const std::string_view value = trimmed(text.substr(colon + 1));
        if (named(name, "Transfer-Encoding")) {
            // Only the last coding says how the body ends; chunked must be last where present.
            const std::size_t comma = value.rfind(',');
            std::string_view last =
                trimmed(comma == std::string_view::npos ? value : value.substr(comma + 1));
            last = last.substr(0, last.find('\0')); // read as a C string
            framing_ = named(last, "chunked") ? Framing::chunked : Framing::to_close;
            if (framing_ == Framing::to_close)
                break;
        } else if (named(name, "Content-Length") && framing_ != Framing::chunked) {
            if (value.empty() || value.size() > 18 ||
                value.find_first_not_of("0123456789") != std::string_view::npos) {
                fail("its Content-Length cannot be read");
                return;
            }
            uint64_t length = 0;
            for (const char digit : value)
                length = length * 10 + uint64_t(digit - '0');
            if (has_length && length != left_) {
                fail("it gives two lengths");
                return;
            }
            has_length = true;
            left_ = length;
            framing_ = Framing::length;
        }
    }
    if (status_ == 204 || status_ == 304 || (framing_ == Framing::length && left_ == 0)) {
        state_ = State::complete;
    } else if (framing_ == Framing::length && left_ > body_cap_) {
        too_large_ = true;
        fail("its body is larger than " + std::to_string(body_cap_ >> 20) + " MiB");
    }
}

void AnswerReader::take_body(const char* data, std::size_t size) {
    const std::size_t n = framing_ == Framing::length && left_ < size ? left_ : size;
    if (body_.size() + n > body_cap_) {
        too_large_ = true;
        fail("its body is larger than " + std::to_string(body_cap_ >> 20) + " MiB");
        return;
    }
    body_.append(data, n);
    if (framing_ == Framing::length) {
        left_ -= n;
        if (left_ == 0)
            state_ = State::complete;
    }
}

// Collects one line into line_ (without its line end); true once it is whole.
bool AnswerReader::line(const char* data, std::size_t size, std::size_t& used, std::size_t cap) {
    const void* found = std::memchr(data, '\n', size);
    const std::size_t n = found ? static_cast<const char*>(found) - data : size;
    line_.append(data, n);
    used = found ? n + 1 : n;
    if (line_.size() > cap) {
        fail("its chunk framing is broken");
        return false;
    }
    if (!found)
        return false;
    if (!line_.empty() && line_.back() == '\r')
        line_.pop_back();
    return true;
}

void AnswerReader::take_chunked(const char* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size && state_ == State::body) {
        std::size_t used = 0;
        if (chunk_ == Chunk::data) {
            used = left_ < size - at ? static_cast<std::size_t>(left_) : size - at;
            body_.append(data + at, used);
            left_ -= used;
            if (left_ == 0)
                chunk_ = Chunk::data_end;
            at += used;
            continue;
        }
        const bool whole = line(data + at, size - at, used, kLineCap);
        at += used;
        if (!whole)
            continue;
        const std::string text = line_;
        line_.clear();
        if (chunk_ == Chunk::data_end) {
            if (!text.empty()) {
                fail("a chunk is longer than its size");
                return;
            }
            chunk_ = Chunk::size;
        } else if (chunk_ == Chunk::trailer) {
            if (text.empty())
                state_ = State::complete;
        } else {
            // The size in hexadecimal, then blanks or an extension after ";".
            uint64_t chunk = 0;
            std::size_t p = 0;
            for (; p < text.size() && std::isxdigit(static_cast<unsigned char>(text[p])); ++p) {
                if (p >= 15) {
                    fail("a chunk size is too large");
                    return;
                }
                const int digit =
                    std::isdigit(static_cast<unsigned char>(text[p]))
                        ? text[p] - '0'
                        : std::tolower(static_cast<unsigned char>(text[p])) - 'a' + 10;
                chunk = chunk * 16 + static_cast<uint64_t>(digit);
            }
            const std::size_t rest = text.find_first_not_of(" \t", p);
            if (p == 0 || (rest != std::string::npos && text[rest] != ';')) {
                fail("a chunk size cannot be read");
                return;
            }
            if (chunk > body_cap_ - body_.size()) {
                too_large_ = true;
                fail("its body is larger than " + std::to_string(body_cap_ >> 20) + " MiB");
                return;
            }
            left_ = chunk;
            chunk_ = chunk == 0 ? Chunk::trailer : Chunk::data;
        }
    }
}

AnswerReader::State AnswerReader::close() {
    if (state_ == State::head)
        return fail(head_.empty() ? "no answer came" : "it ended inside its header");
    if (state_ == State::body) {
        if (framing_ != Framing::to_close)
            return fail("it ended before its whole body came");
        state_ = State::complete;
    }
    return state_;
}

} // namespace upnp_http
