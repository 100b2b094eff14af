#pragma once

#include "MappingRecord.h"
#include "UpnpTimings.h"
#include "http/exchange.h"
#include "http/url.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

// The WAN connection services whose port mappings the client can drive.
extern const char* const SERVICE_WANIP;  // ...WANIPConnection:1
extern const char* const SERVICE_WANPPP; // ...WANPPPConnection:1
extern const char* const SERVICE_WANIP2; // ...WANIPConnection:2
// The IPv6 firewall of an IGD v2 router, beside its WAN connection service.
extern const char* const SERVICE_WANIP6FC; // ...WANIPv6FirewallControl:1

namespace upnp_detail {
class AnswerWalk;
}

// A gateway that a search found usable, with what its actions need.
struct IgdRouter {
    std::string address; // the host of its description URL
    std::string describe_url;
    std::string description;
    std::string base_URL;
    std::string service_type;
    std::string control_url;
    std::string friendly_name;
    int igd_version = 0;
    std::string firewall_control_url; // empty: it offers no IPv6 firewall control
    std::string udn;     // the gateway device's UDN ("uuid:..."), empty when it has none
    std::string boot_id; // BOOTID.UPNP.ORG of its search answer, empty when it gave none
};

// The client of the home router's UPnP Internet Gateway Device (versions 1 and 2). Operations
// report failure by returning false, with `status` 8, a readable text in `last_error` and the
// kind of failure in `failure`. The object has no lock: callers must never run two operations
// on it at the same time.
class UpnpNat {
  public:
    // Values of `status`.
    enum Status {
        STATUS_READY = 0,
        STATUS_DISCOVERED = 1,
        STATUS_CONNECTED = 2,
        STATUS_SERVICE_SELECTED = 4,
        STATUS_CHANGED = 5,
        STATUS_READ = 7,
        STATUS_FAILED = 8,
    };

    // A router answer larger than this is dropped whole: the exchange then fails cleanly.
    static constexpr std::size_t kAnswerCap = 4u * 1024u * 1024u;
    // A mapping list is never read past this many entries.
    static constexpr int kIndexCap = 4096;
    // The index walk gives up after this many entries in a row that it could not read.
    static constexpr int kUnreadInARow = 8;
    // The most mappings one GetListOfPortMappings answer may hold: miniupnpd's nftables backend
    // up to 2.3.3 overruns its buffer (and dies) past 128 mappings of a protocol in one range.
    static constexpr int kSafeListing = 128;

    std::string last_response;
    std::vector<std::string> mapping_lines;
    std::vector<MappingRecord> mappings;
    std::string friendly_name;
    std::string last_error;
    int udp_socket = -1;
    int tcp_socket = -1;
    int32_t status = 0;
    int32_t connect_tries = 0;
    std::string service_type;
    std::string describe_url;
    std::string control_url;
    std::string base_URL;
    std::string description;

    // Where the SSDP search goes: "ff02::c" (or "ff02::c%eth0", naming the interface) searches
    // over IPv6, where the router's answer names its description at an IPv6 address. Tests point
    // it at a loopback responder.
    std::string ssdp_address = "239.255.255.250";
    uint16_t ssdp_port = 1900;
    // Where routers' own announcements (NOTIFY) are heard, on `ssdp_address`; 0: any port.
    uint16_t notify_port = 1900;
    UpnpTimings timings;
    // Folder that receives "quaymap.log" (the answer to the latest AddPortMapping).
    // Empty: no file is written.
    std::string log_folder;

    enum class Failure {
        none,
        unreachable, // no connection, or no answer at all (nothing before the limits ran out)
        refused,    // the router said no: a SOAP Fault (code kept) or an HTTP status other than 200
        bad_answer, // status 200, but no <Action>Response element, or an answer that does not walk
    };
    // Kind of the latest failure; none after a success.
    Failure failure = Failure::none;
    // The router's UPnPError of the latest refused action (for example 718 and
    // "ConflictInMappingEntry"); 0 and empty when it gave none.
    int upnp_error_code = 0;
    std::string upnp_error_description;
    // 1 or 2: the InternetGatewayDevice version that the selected description named.
    int igd_version = 0;
    // The selected gateway device's UDN: the router's name in QuayMap's record; empty when the
    // description gives none. Its BOOTID.UPNP.ORG as its search answer gave it: a new one in its
    // announcements means that it restarted.
    std::string udn;
    std::string boot_id;
    // The latest listing stopped at kIndexCap.
    bool mappings_cut = false;
    // What the latest listing skipped or could not reach, in the order met.
    std::vector<UnreadEntry> mappings_unread;
    // The lease (s) that the latest successful AddPortMapping or AddPinhole asked for (0:
    // permanent).
    uint32_t last_lease = 0;
    // The control URL of the description's WANIPv6FirewallControl:1 service; empty when it has
    // none. Set with control_url.
    std::string firewall_control_url;
    // The address that the firewall's actions leave from (this computer's global IPv6 address):
    // a router takes a pinhole only from the address it opens, over IPv6 (else 606). Empty: the
    // system's choice.
    std::string firewall_source;
    // Every usable gateway that the latest search found, the chosen one first.
    std::vector<IgdRouter> routers;
    // This computer's default gateway, whose own IGD wins when several answer; empty: read from
    // the routing table at each search.
    std::string default_gateway;
    // Where the diagnostic prints go; nullptr: nowhere.
    std::FILE* console = stdout;
    // Diagnostic log lines (no final line feed), for example why a description was refused.
    std::function<void(const std::string&)> log;

    UpnpNat() = default;
    UpnpNat(const UpnpNat&) = delete;
    UpnpNat& operator=(const UpnpNat&) = delete;

    // Starts a search: sets `connect_tries` and `status` 0; everything else is kept.
    bool init(int32_t connect_tries);

    // Transport.
    // Splits "http://host[:port]/path" (an IPv6 host in brackets); the port is 80 when the URL
    // names none. Any other scheme is refused.
    static bool parse_url(const std::string& url, std::string& host, uint16_t& port,
                          std::string& path);
    // Opens `tcp_socket` to a dotted-decimal address: up to `connect_tries` attempts, all within
    // `connect_budget_ms`; a connection actively refused is not tried again.
    bool tcp_connect(const std::string& host, uint16_t port);
    // Collects the answer to a request already sent on `tcp_socket`; empty when nothing came
    // or when the answer outgrew kAnswerCap. Zero bytes come out as U+FFFD.
    std::string receive_until(const std::string& marker, int max_tries);

    // Finding the gateway.
    // Sends the M-SEARCH for InternetGatewayDevice:1 and :2 in one burst, and the burst again
    // after `ssdp_repeat_ms`; listens until `ssdp_window_ms` after the first. Each 200 answer
    // with a LOCATION not heard before is a candidate, whose description is fetched while the
    // search listens on, side by side with the others; one that cannot be used is logged and
    // passed over. The default gateway's IGD is taken as soon as it walks; another one once
    // `ssdp_choice_ms` have passed without the gateway's. Then `routers` holds every usable one,
    // the chosen first, whose fields are set (describe_url, description, base_URL,
    // service_type, control_url, friendly_name, igd_version), status 1, the UDP socket closed.
    bool discovery();
    // The actions go to routers[index] from now on; false when there is no such router.
    bool use_router(std::size_t index);
    // Fetches `describe_url` into `description`, the whole fetch within `description_deadline_ms`.
    bool get_description();
    // Walks `description` to the WAN connection service: every WAN device and connection device
    // is searched, and among the services found WANIPConnection:2 comes before :1, and IP before
    // PPP. Sets `service_type`, `control_url` (resolved against URLBase, else `describe_url`),
    // `base_URL`, `igd_version` and, when the description has one, `friendly_name`; on failure
    // they are left as they were.
    bool parse_description();
    // Where the description offers several services, the first that is connected
    // (GetStatusInfo) is taken, in the order above. Asks nothing when it offers one.
    void prefer_connected_service(upnp_http::Clock::time_point deadline);
    // A known description URL, without SSDP: fetched, checked to be a gateway's and walked.
    bool open_description(const std::string& url);

    // Control actions, each one exchange on its own connection to `control_url`.
    // Connects and sends one action; true when it was sent, whatever came back in `answer`.
    // The caller closes `tcp_socket`.
    bool soap_call(const std::string& action, const std::string& arguments, int max_tries,
                   std::string& answer);
    // lease -1: the service's default (0 on a v1 service, 604800 on WANIPConnection:2). A
    // router that takes only permanent leases (725) is asked once more with 0.
    bool add_port_mapping(const std::string& description, const std::string& internal_client,
                          uint16_t external_port, uint16_t internal_port,
                          const std::string& protocol, int64_t lease = -1);
    bool del_port_mapping(uint16_t external_port, const std::string& protocol);
    // Who holds a port: `record` gets the router's internal client, internal port, description
    // and lease, with the protocol (upper-cased) and external port as asked.
    bool get_specific_port_mapping(uint16_t external_port, const std::string& protocol,
                                   MappingRecord& record);
    // On true `address` holds the router's public address text; on false it is left untouched.
    bool get_external_ip(std::string& address);

    // IPv6 pinholes through the firewall at `firewall_control_url`, each one exchange. A router
    // without one refuses them all. Refusals keep the router's code (606: not over IPv4, or not
    // from the address opened, nor for another's pinhole; 702: pinholes not allowed; 704, or 402 on
    // miniupnpd: no such pinhole).
    bool get_firewall_status(bool& firewall_enabled, bool& pinholes_allowed);
    // protocol 6 (TCP) or 17 (UDP); lease 1 to 86400 s (outside, the nearest end); an empty
    // remote host and remote port 0 let anyone in. On true `unique_id` names the pinhole.
    bool add_pinhole(const std::string& internal_client, uint16_t internal_port, int protocol,
                     uint32_t lease, uint16_t& unique_id, const std::string& remote_host = "",
                     uint16_t remote_port = 0);
    bool update_pinhole(uint16_t unique_id, uint32_t lease);
    bool delete_pinhole(uint16_t unique_id);

    // Listing, one exchange per step: one page of GetListOfPortMappings (on WANIPConnection:2,
    // when index 128 shows the table small enough) or one index of GetGenericPortMappingEntry,
    // so that a caller can take its lock per step and show rows as they come. An add or delete
    // made on this client between two steps of an index walk moves the walk to where its next
    // row now stands (or back to the start), so that no row is missed.
    struct MappingCursor {
        bool done = false; // the listing has ended (at its end, cut, given up, or broken)

      private:
        friend class UpnpNat;
        enum class Mode { fresh, probe, pages, walk } mode = Mode::fresh;
        bool first_page = true;
        bool udp = false;
        bool lost = false; // no exchange could be had
        uint32_t start_port = 1;
        int index = 0;
        int count = 0;
        int unread_in_a_row = 0;
        bool has_previous = false;
        MappingRecord previous;
        uint64_t changes_seen = 0;
        std::set<std::string> read; // "PORT/PROTOCOL" of each row the walk has read
        std::string url;            // the control URL as last split, and its parts
        bool split = false;
        std::string host, path;
        uint16_t port = 0;
    };
    // Appends the records of one step to `mappings` (and `mapping_lines`) and returns how many;
    // a default-constructed cursor starts a fresh listing.
    int read_mappings(MappingCursor& cursor);
    // Reads the whole mapping table afresh into `mappings` and `mapping_lines`; false only
    // when the router could not be reached.
    bool get_port_mappings();
    // Turns `last_response` into one record; false when it does not walk or repeats the last.
    bool parse_mapping_info();

  private:
    friend class SsdpSearch;
    enum class Echo { none, chunks, marks };
    struct WanService {
        std::string type;
        std::string control_url;
    };

    upnp_http::Limits
    limits(int max_tries,
           upnp_http::Clock::time_point deadline = upnp_http::Clock::time_point::max()) const;
    // One request and its answer on a connection of its own; false when no connection was made.
    // `source`: the local address it leaves from; empty: the system's choice.
    bool transfer(const upnp_http::Url& to, std::string request, int max_tries,
                  const std::string& marker, Echo echo, upnp_http::Clock::time_point deadline,
                  std::string& answer, const std::string& source = "");
    bool call(const upnp_http::Url& to, const std::string& type, const std::string& action,
              const std::string& arguments, int max_tries, std::string& answer,
              upnp_http::Clock::time_point deadline = upnp_http::Clock::time_point::max(),
              const std::string& source = "");
    // Sends one action to the IPv6 firewall from `firewall_source`; true when it was sent,
    // whatever came back in `answer`.
    bool firewall_exchange(const std::string& action, const std::string& arguments,
                           std::string& answer);
    bool exchange(const std::string& host, uint16_t port, const std::string& path,
                  const std::string& action, const std::string& arguments, int max_tries,
                  std::string& answer);
    // The answer to `action`, parsed once: its verdict (its framing included) and, in
    // upnp_error_code and upnp_error_description, the router's reason for a refusal.
    upnp_detail::AnswerWalk read_answer(const std::string& answer, const std::string& action);
    // The description just fetched into `description`: a gateway's, and one that walks.
    bool take_description(upnp_http::Clock::time_point deadline);
    // A search's candidate whose fetch has ended: true when it made a usable router, which is
    // then the last of `routers`.
    bool settle(const std::string& url, const upnp_http::Exchange& fetch);
    IgdRouter current_router() const;
    int read_probe(MappingCursor& cursor, const std::string& host, uint16_t port,
                   const std::string& path);
    int read_page(MappingCursor& cursor, const std::string& host, uint16_t port,
                  const std::string& path);
    int read_index(MappingCursor& cursor, const std::string& host, uint16_t port,
                   const std::string& path);
    void follow_changes(MappingCursor& cursor);
    void walk_from_now_on(MappingCursor& cursor);
    void cut_at_cap(MappingCursor& cursor);
    void finish(MappingCursor& cursor, Failure kind);
    void keep(MappingCursor& cursor, const MappingRecord& record);
    // An add or a delete that may have changed the router's table: the port and protocol that
    // a confirmed delete removed, else port 0 (where the table changed is unknown).
    void note_change(uint16_t deleted_port = 0, const std::string& protocol = {});
    bool fail(const std::string& text, Failure kind);
    bool succeed(int32_t new_status);
    void say(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void close_tcp();
    void close_udp();

    // Why the latest answer cannot be taken as it stands (its framing broke); empty when it can.
    std::string answer_problem_;
    // The services of the latest description that walked, in the order they are preferred.
    std::vector<WanService> services_;
    // The latest changes to the router's table made through this client, oldest first, and how
    // many were ever made; a walk that missed more than are kept starts again.
    std::deque<std::string> changes_;
    uint64_t change_count_ = 0;
    // Control URLs whose router stopped answering a listing by pages: read by the index walk.
    std::set<std::string> walk_only_;
};

// The client of the whole process.
extern UpnpNat upnp_nat;
