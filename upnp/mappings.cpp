#include "UpnpNat.h"
#include "wire/answer_walk.h"
#include "wire/wire_text.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int kEntryReads = 10;
constexpr std::size_t kPageSize = 1000;
constexpr int kArrayIndexInvalid = 713, kNoSuchEntryInArray = 714, kPortMappingNotFound = 730;
// A walk that missed more changes than this reads its table again.
constexpr std::size_t kChangesKept = 64;
const char* const kEntryAction = "GetGenericPortMappingEntry";

std::string entry_arguments(int index) {
    static constexpr char kRest[] =
        "</NewPortMappingIndex><NewRemoteHost></NewRemoteHost>\r\n"
        "<NewExternalPort></NewExternalPort>\r\n<NewProtocol></NewProtocol>\r\n"
        "<NewInternalPort></NewInternalPort>\r\n<NewInternalClient></NewInternalClient>\r\n"
        "<NewEnabled>1</NewEnabled>\r\n"
        "<NewPortMappingDescription></NewPortMappingDescription>\r\n"
        "<NewLeaseDuration></NewLeaseDuration>\r\n";
    const std::string number = std::to_string(index);
    std::string text;
    text.reserve(21 + number.size() + sizeof kRest);
    return text.append("<NewPortMappingIndex>").append(number).append(kRest);
}

std::string page_arguments(uint32_t start_port, const char* protocol) {
    return "<NewStartPort>" + std::to_string(start_port) +
           "</NewStartPort>\r\n<NewEndPort>65535</NewEndPort>\r\n<NewProtocol>" + protocol +
           "</NewProtocol>\r\n<NewManage>1</NewManage>\r\n<NewNumberOfPorts>" +
           std::to_string(kPageSize) + "</NewNumberOfPorts>\r\n";
}

std::string totally(int count) {
    return "Totally " + std::to_string(count) + " mapping entries.\n";
}

std::string line_of(const MappingRecord& record) {
    std::string line;
    line.reserve(record.external_port.size() + record.protocol.size() + record.description.size() +
                 record.internal_client.size() + record.internal_port.size() + 10);
    return line.append(record.external_port)
        .append("/")
        .append(record.protocol)
        .append("[")
        .append(record.description)
        .append("]-->")
        .append(record.internal_client)
        .append(":")
        .append(record.internal_port)
        .append("\r\n");
}

// The port of a listed entry; 0 when the text is none.
uint32_t port_number(const std::string& text) {
    uint32_t value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || value > 65535)
            return 0;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value > 65535 ? 0 : value;
}

bool no_such_entry(int code) {
    return code == kArrayIndexInvalid || code == kNoSuchEntryInArray;
}

// Why the router did not hand an entry over, in a few words: its own code and words, the
// HTTP status it gave instead, or that the answer made no sense.
std::string unread_reason(const upnp_detail::AnswerWalk& walk, const std::string& answer) {
    int code = 0;
    std::string words;
    if (walk.upnp_error(code, words))
        return std::to_string(code) + (words.empty() ? "" : " " + words);
    if (walk.verdict() == UpnpNat::Failure::refused && !upnp_wire::http_status_is_200(answer) &&
        answer.compare(0, 5, "HTTP/") == 0) {
        const std::size_t from = answer.find(' ');
        const std::size_t to = std::min(answer.find_first_of("\r\n"), from + 41);
        if (from < to)
            return "HTTP " + answer.substr(from + 1, to - from - 1);
    }
    return walk.verdict() == UpnpNat::Failure::refused ? "a refusal without a reason"
                                                       : "an answer that cannot be read";
}

// What a walk remembers of a row it read, to know whether a delete moved the rows after it.
std::string mapping_key(const std::string& port, std::string protocol) {
    for (char& c : protocol)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return std::to_string(port_number(port)) + "/" + protocol;
}

bool entry_of(upnp_detail::AnswerWalk& walk, MappingRecord& record) {
    record.external_port = walk.argument("NewExternalPort");
    record.protocol = walk.argument("NewProtocol");
    record.internal_port = walk.argument("NewInternalPort");
    record.internal_client = walk.argument("NewInternalClient");
    record.description = walk.argument("NewPortMappingDescription");
    record.lease_duration = walk.optional_argument("NewLeaseDuration");
    return walk.ok();
}

} // namespace

bool UpnpNat::get_port_mappings() {
    mappings.clear();
    mapping_lines.clear();
    MappingCursor cursor;
    while (!cursor.done)
        read_mappings(cursor);
    return !cursor.lost;
}

int UpnpNat::read_mappings(MappingCursor& cursor) {
    if (cursor.done)
        return 0;
    if (cursor.mode == MappingCursor::Mode::fresh) {
        mappings_cut = false;
        mappings_unread.clear();
        cursor.changes_seen = change_count_;
        // Pages only where one cannot overrun the router; a router that stopped answering
        // them is walked for the rest of the run.
        cursor.mode = service_type != SERVICE_WANIP2 || walk_only_.count(control_url)
                          ? MappingCursor::Mode::walk
                          : MappingCursor::Mode::probe;
    }
    follow_changes(cursor);
    // Split once for the whole listing, and again only should the control URL change.
    if (!cursor.split || cursor.url != control_url) {
        cursor.split = parse_url(control_url, cursor.host, cursor.port, cursor.path);
        cursor.url = control_url;
    }
    if (!cursor.split) {
        cursor.done = cursor.lost = true;
        fail("Fail to parseURl: " + control_url + "\n", Failure::unreachable);
        return 0;
    }
    switch (cursor.mode) {
    case MappingCursor::Mode::probe:
        return read_probe(cursor, cursor.host, cursor.port, cursor.path);
    case MappingCursor::Mode::pages:
        return read_page(cursor, cursor.host, cursor.port, cursor.path);
    default:
        return read_index(cursor, cursor.host, cursor.port, cursor.path);
    }
}

// The table holds more than kSafeListing entries unless the router says it has no entry at
// that index: only then may one page cover a protocol's whole range.
int UpnpNat::read_probe(MappingCursor& cursor, const std::string& host, uint16_t port,
                        const std::string& path) {
    if (!exchange(host, port, path, kEntryAction, entry_arguments(kSafeListing), kEntryReads,
                  last_response)) {
        walk_from_now_on(cursor);
        return 0;
    }
    close_tcp();
    const upnp_detail::AnswerWalk walk = read_answer(last_response, kEntryAction);
    if (walk.verdict() == Failure::unreachable) {
        walk_from_now_on(cursor);
        return 0;
    }
    int code = 0;
    std::string words;
    cursor.mode =
        walk.verdict() == Failure::refused && walk.upnp_error(code, words) && no_such_entry(code)
            ? MappingCursor::Mode::pages
            : MappingCursor::Mode::walk;
    return 0;
}

int UpnpNat::read_page(MappingCursor& cursor, const std::string& host, uint16_t port,
                       const std::string& path) {
    if (!exchange(host, port, path, "GetListOfPortMappings",
                  page_arguments(cursor.start_port, cursor.udp ? "UDP" : "TCP"), kEntryReads,
                  last_response)) {
        walk_from_now_on(cursor);
        return 0;
    }
    close_tcp();
    const upnp_detail::AnswerWalk walk = read_answer(last_response, "GetListOfPortMappings");
    const Failure verdict = walk.verdict();
    if (verdict == Failure::unreachable) {
        walk_from_now_on(cursor);
        return 0;
    }
    std::vector<MappingRecord> page;
    // A range without mappings is refused as PortMappingNotFound: an empty page, no failure.
    const bool empty = verdict == Failure::refused && upnp_error_code == kPortMappingNotFound;
    if (!empty && (verdict != Failure::none || !upnp_wire::port_listing_of(last_response, page))) {
        // A router may name the service without listing this way: the index walk still can.
        if (cursor.first_page) {
            cursor.first_page = false;
            cursor.mode = MappingCursor::Mode::walk;
            return 0;
        }
        mappings_unread.push_back({-1, cursor.udp ? "UDP" : "TCP", cursor.start_port,
                                   unread_reason(walk, last_response)});
        finish(cursor, Failure::none);
        return 0;
    }
    cursor.first_page = false;
    int added = 0;
    for (const MappingRecord& record : page) {
        if (cursor.count >= kIndexCap) {
            mappings_cut = true;
            finish(cursor, Failure::none);
            return added;
        }
        mapping_lines.push_back(line_of(record));
        keep(cursor, record);
        ++added;
    }
    status = STATUS_READ;
    // A full page may have more behind it: the next one starts past its last port.
    const uint32_t last = page.empty() ? 0 : port_number(page.back().external_port);
    if (page.size() >= kPageSize && last >= cursor.start_port && last < 65535) {
        cursor.start_port = last + 1;
    } else if (!cursor.udp) {
        cursor.udp = true;
        cursor.start_port = 1;
    } else {
        finish(cursor, Failure::none);
    }
    return added;
}

int UpnpNat::read_index(MappingCursor& cursor, const std::string& host, uint16_t port,
                        const std::string& path) {
    if (!exchange(host, port, path, kEntryAction, entry_arguments(cursor.index), kEntryReads,
                  last_response)) {
        cursor.done = cursor.lost = true;
        return 0;
    }
    close_tcp();
    const int index = cursor.index++;
    upnp_detail::AnswerWalk walk = read_answer(last_response, kEntryAction);
    const Failure verdict = walk.verdict();
    if (verdict == Failure::unreachable) {
        finish(cursor, verdict);
        return 0;
    }
    // Past its last entry a router says there is no such entry: the walk's normal end.
    if (verdict == Failure::refused && no_such_entry(upnp_error_code)) {
        finish(cursor, Failure::none);
        return 0;
    }
    MappingRecord record;
    // Any other refusal or a broken answer hides one entry, not the rest of the table.
    if (verdict != Failure::none || !entry_of(walk, record)) {
        mappings_unread.push_back({index, "", 0, unread_reason(walk, last_response)});
        if (++cursor.unread_in_a_row >= kUnreadInARow)
            finish(cursor, Failure::none);
        else
            cut_at_cap(cursor);
        return 0;
    }
    cursor.unread_in_a_row = 0;
    // A gateway that answers past its last entry with a copy of that entry ends the list here;
    // two different mappings that only share a description (TCP and UDP of one program) do not.
    if (cursor.has_previous && cursor.previous == record) {
        cursor.done = true;
        return 0;
    }
    mapping_lines.push_back(line_of(record));
    keep(cursor, record);
    cursor.read.insert(mapping_key(record.external_port, record.protocol));
    status = STATUS_READ;
    cut_at_cap(cursor);
    return 1;
}

// A gateway that keeps inventing entries must not keep the list growing for ever.
void UpnpNat::cut_at_cap(MappingCursor& cursor) {
    if (cursor.index < kIndexCap)
        return;
    mappings_cut = true;
    finish(cursor, Failure::none);
}

// A confirmed delete of a row already read moves every later row one index down; any other
// change (an add, whose place is unknown, or a delete that may have hit a skipped entry) sends
// the walk back to the start. Rows read again are handed over again.
void UpnpNat::follow_changes(MappingCursor& cursor) {
    const uint64_t missed = change_count_ - cursor.changes_seen;
    cursor.changes_seen = change_count_;
    if (missed == 0 || cursor.mode != MappingCursor::Mode::walk)
        return;
    bool again = missed > changes_.size();
    for (std::size_t i = changes_.size() - std::min<uint64_t>(missed, changes_.size());
         i < changes_.size() && !again; ++i) {
        const std::string& deleted = changes_[i];
        if (!deleted.empty() && cursor.read.erase(deleted) > 0)
            --cursor.index;
        else
            again = deleted.empty() || !mappings_unread.empty();
    }
    if (again) {
        cursor.index = 0;
        cursor.read.clear();
        cursor.unread_in_a_row = 0;
        mappings_unread.clear();
    }
    // The row read last may now stand at the next index: it is no repeat of a router's end.
    cursor.has_previous = false;
}

void UpnpNat::note_change(uint16_t deleted_port, const std::string& protocol) {
    changes_.push_back(deleted_port ? mapping_key(std::to_string(deleted_port), protocol) : "");
    if (changes_.size() > kChangesKept)
        changes_.pop_front();
    ++change_count_;
}

// Ends this listing as unreachable and keeps GetListOfPortMappings from this router: a router
// that crashed on a page will crash on it again.
void UpnpNat::walk_from_now_on(MappingCursor& cursor) {
    walk_only_.insert(control_url);
    if (log)
        log("the router at " + control_url +
            " stopped answering during a listing by pages; it is listed by the index walk "
            "from now on");
    cursor.lost = true;
    finish(cursor, Failure::unreachable);
}

// Ends the listing as the index walk always has: the count as the text, with status 8.
void UpnpNat::finish(MappingCursor& cursor, Failure kind) {
    cursor.done = true;
    fail(totally(cursor.count), kind);
}

void UpnpNat::keep(MappingCursor& cursor, const MappingRecord& record) {
    say("mapping[%d]:%s\n", cursor.count, mapping_lines.back().c_str());
    mappings.push_back(record);
    cursor.previous = record;
    cursor.has_previous = true;
    ++cursor.count;
}

bool UpnpNat::parse_mapping_info() {
    upnp_detail::AnswerWalk walk = read_answer(last_response, kEntryAction);
    MappingRecord record;
    if (!entry_of(walk, record))
        return fail(walk.error(), Failure::bad_answer);
    mapping_lines.push_back(line_of(record));
    if (!mappings.empty() && mappings.back() == record)
        return false;
    mappings.push_back(record);
    return true;
}
