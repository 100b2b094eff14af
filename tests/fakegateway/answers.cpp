#include "FakeGateway.h"

#include <algorithm>

namespace fakegw {

std::string xml_escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

Reply http_status(int code, const std::string& reason, const std::string& body) {
    Reply reply;
    reply.bytes = "HTTP/1.1 " + std::to_string(code) + " " + reason +
                  "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nConnection: close\r\n"
                  "Content-Length: " +
                  std::to_string(body.size()) + "\r\nServer: FakeGateway/1.0 UPnP/1.0\r\n\r\n" +
                  body;
    return reply;
}

Reply http_ok(const std::string& body, const std::string& content_type) {
    Reply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nContent-Type: " + content_type +
                  "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\nServer: FakeGateway/1.0 UPnP/1.0\r\n\r\n" + body;
    return reply;
}

Reply soap_ok(const std::string& action, const std::string& arguments, const std::string& service) {
    const std::string body =
        "<?xml version=\"1.0\"?>\r\n"
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
        action + "Response xmlns:u=\"" + service + "\">" + arguments + "</u:" + action +
        "Response></s:Body></s:Envelope>\r\n";
    return http_ok(body, "text/xml; charset=\"utf-8\"");
}

Reply soap_fault(int code, const std::string& description) {
    const std::string body =
        "<?xml version=\"1.0\"?>\r\n"
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><s:Fault>"
        "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
        "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
        std::to_string(code) + "</errorCode><errorDescription>" + xml_escape(description) +
        "</errorDescription></UPnPError></detail></s:Fault></s:Body></s:Envelope>\r\n";
    return http_status(500, "Internal Server Error", body);
}

std::string entry_arguments(const Entry& e) {
    return "<NewRemoteHost>" + xml_escape(e.remote_host) + "</NewRemoteHost><NewExternalPort>" +
           xml_escape(e.external_port) + "</NewExternalPort><NewProtocol>" +
           xml_escape(e.protocol) + "</NewProtocol><NewInternalPort>" +
           xml_escape(e.internal_port) + "</NewInternalPort><NewInternalClient>" +
           xml_escape(e.internal_client) + "</NewInternalClient><NewEnabled>" +
           xml_escape(e.enabled) + "</NewEnabled><NewPortMappingDescription>" +
           xml_escape(e.description) + "</NewPortMappingDescription><NewLeaseDuration>" +
           xml_escape(e.lease_duration) + "</NewLeaseDuration>";
}

Reply split(Reply reply, int pieces, int gap_ms) {
    reply.cuts.clear();
    const std::size_t size = reply.bytes.size();
    if (pieces > 1 && size > 1) {
        const std::size_t step = std::max<std::size_t>(1, size / static_cast<std::size_t>(pieces));
        for (std::size_t at = step; at < size; at += step)
            reply.cuts.push_back(at);
    }
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

std::string igd_description(const DescriptionOptions& o) {
    std::string text = "<?xml version=\"1.0\"?>\r\n"
                       "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                       "<specVersion><major>1</major><minor>0</minor></specVersion>";
    if (!o.url_base.empty())
        text += "<URLBase>" + xml_escape(o.url_base) + "</URLBase>";
    text += "<device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
            "<friendlyName>" +
            xml_escape(o.friendly_name) +
            "</friendlyName><manufacturer>QuayMap tests</manufacturer>"
            "<UDN>uuid:fa4e0000-0000-4000-8000-000000000001</UDN>"
            "<serviceList><service>"
            "<serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType>"
            "<serviceId>urn:upnp-org:serviceId:L3Forwarding1</serviceId>"
            "<controlURL>/ctl/L3F</controlURL><eventSubURL>/evt/L3F</eventSubURL>"
            "<SCPDURL>/L3F.xml</SCPDURL></service></serviceList>"
            "<deviceList><device>"
            "<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>"
            "<friendlyName>WANDevice</friendlyName>"
            "<serviceList><service>"
            "<serviceType>urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1</serviceType>"
            "<serviceId>urn:upnp-org:serviceId:WANCommonIFC1</serviceId>"
            "<controlURL>/ctl/CmnIfCfg</controlURL><eventSubURL>/evt/CmnIfCfg</eventSubURL>"
            "<SCPDURL>/WANCfg.xml</SCPDURL></service></serviceList>"
            "<deviceList><device>"
            "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
            "<friendlyName>WANConnectionDevice</friendlyName>"
            "<serviceList><service><serviceType>" +
            xml_escape(o.service_type) +
            "</serviceType><serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>"
            "<controlURL>" +
            xml_escape(o.control_url) +
            "</controlURL><eventSubURL>/evt/IPConn</eventSubURL>"
            "<SCPDURL>/WANIPCn.xml</SCPDURL></service></serviceList>"
            "</device></deviceList></device></deviceList>"
            "<presentationURL>http://127.0.0.1/</presentationURL></device></root>\r\n";
    return text;
}

} // namespace fakegw
