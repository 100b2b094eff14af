#pragma once

#include "MappingRecord.h"
#include "UpnpTimings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The two WAN connection services whose port mappings the client can drive.
extern const char* const SERVICE_WANIP;
extern const char* const SERVICE_WANPPP;

// The client of the home router's UPnP Internet Gateway Device. Operations report failure by
// returning false, with `status` 8 and a readable text in `last_error`. The object has no lock:
// callers must never run two operations on it at the same time.
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
    // The mapping list is never read past this index.
    static constexpr int kIndexCap = 4096;

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

    // Where the SSDP search goes. Tests point it at a loopback responder.
    std::string ssdp_address = "239.255.255.250";
    uint16_t ssdp_port = 1900;
    UpnpTimings timings;
    // Folder that receives "quaymap.log" (the answer to the latest AddPortMapping).
    // Empty: no file is written.
    std::string log_folder;
    // The router's UPnPError of the latest refused AddPortMapping or DeletePortMapping
    // (for example 718 and "ConflictInMappingEntry"); 0 and empty when it gave none.
    int upnp_error_code = 0;
    std::string upnp_error_description;

    UpnpNat() = default;
    UpnpNat(const UpnpNat&) = delete;
    UpnpNat& operator=(const UpnpNat&) = delete;

    // Starts a search: sets `connect_tries` and `status` 0; everything else is kept.
    bool init(int32_t connect_tries);

    // Transport.
    // Splits "scheme://host[:port]/path"; the port is 80 when the URL names none.
    static bool parse_url(const std::string& url, std::string& host, uint16_t& port,
                          std::string& path);
    // Opens `tcp_socket` to a dotted-decimal address, with up to `connect_tries` attempts.
    bool tcp_connect(const std::string& host, uint16_t port);
    // Collects the answer to a request already sent on `tcp_socket`; empty when nothing came
    // or when the answer outgrew kAnswerCap.
    std::string receive_until(const std::string& marker, int max_tries);

    // Finding the gateway.
    // Sends the SSDP search and fetches the description of the first gateway that answers;
    // on true `describe_url` and `description` are set and `tcp_socket` is still open.
    bool discovery();
    bool get_description();
    // Walks `description` to the WAN connection service: sets `service_type`, `control_url`,
    // `base_URL` and, when the description has one, `friendly_name`.
    bool parse_description();

    // Control actions, each one exchange on its own connection to `control_url`.
    // Connects and sends one action; true when it was sent, whatever came back in `answer`.
    // The caller closes `tcp_socket`.
    bool soap_call(const std::string& action, const std::string& arguments, int max_tries,
                   std::string& answer);
    bool add_port_mapping(const std::string& description, const std::string& internal_client,
                          uint16_t external_port, uint16_t internal_port,
                          const std::string& protocol);
    bool del_port_mapping(uint16_t external_port, const std::string& protocol);
    // Reads the whole mapping table into `mappings` (and `mapping_lines`), index by index.
    bool get_port_mappings();
    // Turns `last_response` into one record; false when it does not walk or repeats the last.
    bool parse_mapping_info();
    // On true `address` holds the router's public address text; on false it is left untouched.
    bool get_external_ip(std::string& address);

  private:
    enum class Echo { none, chunks, marks };

    std::string receive_answer(const std::string& marker, int max_tries, Echo echo);
    bool exchange(const std::string& host, uint16_t port, const std::string& path,
                  const std::string& action, const std::string& arguments, int max_tries,
                  std::string& answer);
    bool fail(const std::string& text);
    void close_tcp();
    void close_udp();
    void note_upnp_error(const std::string& answer);
};

// The client of the whole process.
extern UpnpNat upnp_nat;
