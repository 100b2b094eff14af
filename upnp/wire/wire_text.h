#pragma once

// The texts the client exchanges with a gateway, built and read without any socket, so that
// tests and the fuzzer reach them directly.

#include "UpnpNat.h"
#include "http/answer_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace upnp_wire {

// The M-SEARCH datagrams of a discovery (133 bytes each), one per gateway version.
inline constexpr char kSearchRequest[] =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST:239.255.255.250:1900\r\n"
    "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
    "Man:\"ssdp:discover\"\r\n"
    "MX:3\r\n"
    "\r\n";
inline constexpr char kSearchRequest2[] =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST:239.255.255.250:1900\r\n"
    "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:2\r\n"
    "Man:\"ssdp:discover\"\r\n"
    "MX:3\r\n"
    "\r\n";
// The device types a gateway must announce and describe.
inline constexpr char kGatewayDeviceType[] = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";
inline constexpr char kGatewayDeviceType2[] = "urn:schemas-upnp-org:device:InternetGatewayDevice:2";

using upnp_http::append_received;

// The description URL of an SSDP answer: the value of its LOCATION header (name in any case);
// an answer without one falls back to the first "http://" of the whole answer. The URL runs to
// the first carriage return; an answer whose URL has none gives false.
bool description_url_of(const std::string& answer, std::string& url);

// `authority`: host and port as the Host header names them.
std::string description_request(const std::string& path, const std::string& authority);

// A SOAP action's whole request: the HTTP header, then the envelope around `arguments`.
std::string soap_request(const upnp_http::Url& to, const std::string& service_type,
                         const std::string& action, const std::string& arguments);

// True when the answer's HTTP status line carries the code 200.
bool http_status_is_200(const std::string& answer);

// Appends the entries of a GetListOfPortMappings answer. Its NewPortListing holds a document
// of its own, as a CDATA section or as escaped text; false when that has no PortMappingList.
bool port_listing_of(const std::string& answer, std::vector<MappingRecord>& records);

// Text made safe to stand between the tags of a SOAP argument.
std::string xml_escaped(const std::string& text);

} // namespace upnp_wire
