#include "FakeGateway.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace fakegw {

namespace {

const char kEnvelopeHead[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
const char kEnvelopeTail[] = "</s:Body></s:Envelope>\r\n";

std::string xml_escape(const std::string& text) {
    static const std::pair<char, const char*> entities[] = {
        {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"}};
    std::string out;
    for (char c : text) {
        const auto* e = std::find_if(std::begin(entities), std::end(entities),
                                     [c](const auto& entity) { return entity.first == c; });
        out += e == std::end(entities) ? std::string(1, c) : std::string(e->second);
    }
    return out;
}

// "<name>text</name>" with the text escaped.
std::string element(const std::string& name, const std::string& text) {
    return "<" + name + ">" + xml_escape(text) + "</" + name + ">";
}

} // namespace

Reply http_status(int code, const std::string& reason, const std::string& body) {
    Reply reply;
    reply.bytes = "HTTP/1.1 " + std::to_string(code) + " " + reason +
                  "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nConnection: close\r\n"
                  "Content-Length: " +
                  std::to_string(body.size()) + "\r\nServer: FakeGateway/1.0 UPnP/1.0\r\n\r\n" +
                  body;
    return reply;
}

Reply http_ok(const std::string& body) {
    return http_status(200, "OK", body);
}

Reply soap_ok(const std::string& action, const std::string& arguments) {
    return http_ok(kEnvelopeHead +
                   ("<u:" + action + "Response xmlns:u=\"" +
                    "urn:schemas-upnp-org:service:WANIPConnection:1\">") +
                   arguments + "</u:" + action + "Response>" + kEnvelopeTail);
}

Reply soap_fault(int code, const std::string& description) {
    return http_status(500, "Internal Server Error",
                       kEnvelopeHead +
                           std::string("<s:Fault><faultcode>s:Client</faultcode><faultstring>"
                                       "UPnPError</faultstring><detail><UPnPError xmlns=\"urn:"
                                       "schemas-upnp-org:control-1-0\">") +
                           element("errorCode", std::to_string(code)) +
                           element("errorDescription", description) +
                           "</UPnPError></detail></s:Fault>" + kEnvelopeTail);
}

std::string entry_arguments(const Entry& e) {
    return "<NewRemoteHost></NewRemoteHost>" + element("NewExternalPort", e.external_port) +
           element("NewProtocol", e.protocol) + element("NewInternalPort", e.internal_port) +
           element("NewInternalClient", e.internal_client) + "<NewEnabled>1</NewEnabled>" +
           element("NewPortMappingDescription", e.description) +
           "<NewLeaseDuration>0</NewLeaseDuration>";
}

Reply split(Reply reply, int pieces, int gap_ms) {
    reply.cuts.clear();
    const std::size_t step = std::max<std::size_t>(
        1, reply.bytes.size() / static_cast<std::size_t>(std::max(1, pieces)));
    for (std::size_t at = step; at < reply.bytes.size(); at += step)
        reply.cuts.push_back(at);
    reply.gap_ms = gap_ms;
    return reply;
}

Reply split_inside(Reply reply, const std::string& text, int gap_ms) {
    const std::size_t at = reply.bytes.find(text);
    if (at != std::string::npos && text.size() > 1)
        reply.cuts = {at + text.size() / 2};
    reply.gap_ms = gap_ms;
    return reply;
}

std::string ssdp_answer(const std::string& location) {
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
           "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
           "USN: uuid:fa4e0000-0000-4000-8000-000000000001::"
           "urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
           "EXT:\r\nSERVER: Linux/6.1 UPnP/1.1 FakeGateway/1.0\r\nLOCATION: " +
           location + "\r\n\r\n";
}

// A small IGD v1 tree: the gateway (with a service of its own), its WAN device and the WAN
// connection device with the one service the client can drive.
std::string igd_description(const DescriptionOptions& o) {
    const auto service = [](const std::string& type, const std::string& control) {
        return "<serviceList><service>" + element("serviceType", type) +
               element("controlURL", control) + "</service></serviceList>";
    };
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
           "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
           "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>" +
           element("friendlyName", o.friendly_name) +
           service("urn:schemas-upnp-org:service:Layer3Forwarding:1", "/ctl/L3F") +
           "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>"
           "<deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>" +
           service(o.service_type, "/ctl/IPConn") +
           "</device></deviceList></device></deviceList></device></root>\r\n";
}

} // namespace fakegw
