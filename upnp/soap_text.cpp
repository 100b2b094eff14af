#include "wire_text.h"

#include "xmlParser.h"

#include <cctype>
#include <climits>

namespace upnp_wire {

std::string soap_envelope(const std::string& action, const std::string& service_type,
                          const std::string& arguments) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                       "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                       "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
                       "<s:Body>\r\n<u:";
    text += action;
    text += " xmlns:u=\"";
    text += service_type;
    text += "\">\r\n";
    text += arguments;
    text += "</u:";
    text += action;
    text += ">\r\n</s:Body>\r\n</s:Envelope>\r\n";
    return text;
}

std::string soap_header(const std::string& path, const std::string& authority,
                        const std::string& service_type, const std::string& action,
                        std::size_t envelope_length) {
    return "POST " + path + " HTTP/1.1\r\nHOST: " + authority + "\r\nSOAPACTION:\"" + service_type +
           "#" + action + "\"\r\nCONTENT-TYPE: text/xml ; charset=\"utf-8\"\r\nContent-Length: " +
           std::to_string(envelope_length) + " \r\nConnection: close\r\n\r\n";
}

bool http_status_is_200(const std::string& answer) {
    // "HTTP/1.1 200 OK": the protocol word, blanks, then exactly the code 200.
    if (answer.size() < 5)
        return false;
    for (std::size_t i = 0; i < 5; ++i)
        if (std::toupper(static_cast<unsigned char>(answer[i])) != "HTTP/"[i])
            return false;
    std::size_t p = 5;
    while (p < answer.size() && answer[p] != ' ' && answer[p] != '\r' && answer[p] != '\n')
        ++p;
    if (p == 5 || p >= answer.size() || answer[p] != ' ')
        return false;
    while (p < answer.size() && answer[p] == ' ')
        ++p;
    if (answer.compare(p, 3, "200") != 0)
        return false;
    p += 3;
    return p == answer.size() || answer[p] == ' ' || answer[p] == '\r' || answer[p] == '\n';
}

std::string xml_escaped(const std::string& text) {
    return EncodeXMLEntities(text);
}

} // namespace upnp_wire
