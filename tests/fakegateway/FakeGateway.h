#pragma once

// A scripted home router for tests, on loopback only: an SSDP responder (UDP) and an HTTP
// server (TCP) that serves a device description and answers the WAN IP connection's SOAP
// actions. Out of the box it behaves like a small, well-mannered gateway with a mapping table;
// each test scripts the answers and the misbehaviour it needs and checks the bytes it received.
//
// Use: construct, point the client's SSDP destination at 127.0.0.1:ssdp_port(), script, run.
// Everything is thread-safe; the servers run on their own threads until destruction.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fakegw {

// One HTTP answer and the way it is delivered.
struct Reply {
    std::string bytes;                  // the whole answer, status line included
    int delay_ms = 0;                   // pause between the end of the request and the first byte
    std::vector<std::size_t> cuts;      // offsets at which the answer is split into separate writes
    int gap_ms = 0;                     // pause between two writes
    bool silent = false;                // never answer; hold the connection until the client leaves
    std::size_t close_after = SIZE_MAX; // send only this many bytes, then close (early close)
};

// One SSDP answer datagram.
struct Datagram {
    std::string bytes;
    int delay_ms = 0; // after the M-SEARCH arrived (counted from the previous datagram)
};

// A mapping as the fake router holds it; every field is the text sent in the answer.
struct Entry {
    std::string external_port;
    std::string protocol;
    std::string internal_port;
    std::string internal_client;
    std::string description;
};

// A request the HTTP server received.
struct Request {
    std::string raw;    // every byte received, header and body
    std::string action; // SOAP action name from the SOAPACTION header; empty for a GET
    std::string body;
    // The text of the body's first <name> element (entities decoded), or none.
    std::optional<std::string> argument(const std::string& name) const;
};

// ---- Building answers ----

// "HTTP/1.1 200 OK" with Content-Length and Connection: close.
Reply http_ok(const std::string& body);
Reply http_status(int code, const std::string& reason, const std::string& body);
// A SOAP answer of `action` ("<u:actionResponse>" holding `arguments` verbatim).
Reply soap_ok(const std::string& action, const std::string& arguments);
// HTTP 500 with a SOAP Fault carrying a UPnPError.
Reply soap_fault(int code, const std::string& description);
// The out-arguments of GetGenericPortMappingEntry for one entry.
std::string entry_arguments(const Entry& entry);
// The answer splits into `pieces` writes of about equal size, `gap_ms` apart.
Reply split(Reply reply, int pieces, int gap_ms);
// The answer splits just inside the first occurrence of `text` (so that `text` never stands
// whole in one write).
Reply split_inside(Reply reply, const std::string& text, int gap_ms);
// A well-formed SSDP answer naming `location`.
std::string ssdp_answer(const std::string& location);
// Options of a generated device description.
struct DescriptionOptions {
    std::string friendly_name = "Fake Gateway";
    std::string service_type = "urn:schemas-upnp-org:service:WANIPConnection:1";
};
std::string igd_description(const DescriptionOptions& options = DescriptionOptions());

class FakeGateway {
  public:
    FakeGateway();
    ~FakeGateway();
    FakeGateway(const FakeGateway&) = delete;
    FakeGateway& operator=(const FakeGateway&) = delete;

    uint16_t ssdp_port() const { return ssdp_port_; }
    uint16_t http_port() const { return http_port_; }
    // "http://127.0.0.1:<port><path>"
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(http_port_) + path;
    }
    // The description's URL; the default SSDP answer names it.
    std::string description_url() const { return url("/rootDesc.xml"); }

    // ---- Script ----
    // Datagrams sent back for each M-SEARCH, in order. Default: one ssdp_answer(description_url()).
    void set_ssdp_answers(std::vector<Datagram> answers);
    // What GET of the description path serves. Default: http_ok(igd_description()).
    void set_description(Reply reply);
    void set_description_text(const std::string& xml) { set_description(http_ok(xml)); }
    // A fixed answer for every call of `action`, instead of the router's own.
    void script(const std::string& action, Reply reply);
    // A fixed answer for one index of GetGenericPortMappingEntry.
    void script_index(int index, Reply reply);
    // Decides before everything else; returning none lets the script and the router answer.
    void set_handler(std::function<std::optional<Reply>(const Request&)> handler);
    // Stops accepting connections once the connection in hand is served: later connection
    // attempts are refused (a router that went away).
    void stop_http();

    // ---- The router's own state ----
    void set_entries(std::vector<Entry> entries);
    std::vector<Entry> entries() const;
    void set_external_ip(const std::string& address);

    // ---- What was received ----
    std::vector<std::string> ssdp_requests() const;
    std::vector<Request> requests() const;
    std::vector<Request> requests_for(const std::string& action) const;
    // Connections accepted (answered or not).
    std::size_t connections() const;
    void clear_records();

  private:
    struct State;
    std::unique_ptr<State> state_;
    uint16_t ssdp_port_ = 0;
    uint16_t http_port_ = 0;
};

} // namespace fakegw
