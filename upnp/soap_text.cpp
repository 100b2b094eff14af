#include "wire_text.h"

#include "xmlParser.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <string_view>

namespace upnp_wire {

std::string soap_request(const std::string& path, const std::string& authority,
                         const std::string& service_type, const std::string& action,
                         const std::string& arguments) {
    // Measured first, so that the request is written into one buffer of its final size.
    const std::string_view envelope[] = {
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
        "<s:Body>\r\n<u:",
        action,
        " xmlns:u=\"",
        service_type,
        "\">\r\n",
        arguments,
        "</u:",
        action,
        ">\r\n</s:Body>\r\n</s:Envelope>\r\n"};
    std::size_t length = 0;
    for (const std::string_view piece : envelope)
        length += piece.size();
    const std::string length_text = std::to_string(length);
    const std::string_view header[] = {
        "POST ",
        path,
        " HTTP/1.1\r\nHOST: ",
        authority,
        "\r\nSOAPACTION:\"",
        service_type,
        "#",
        action,
        "\"\r\nCONTENT-TYPE: text/xml ; charset=\"utf-8\"\r\nContent-Length: ",
        length_text,
        " \r\nConnection: close\r\n\r\n"};
    for (const std::string_view piece : header)
        length += piece.size();
    std::string text(length, '\0');
    char* at = &text[0];
    for (const std::string_view piece : header)
        at = std::copy(piece.begin(), piece.end(), at);
    for (const std::string_view piece : envelope)
        at = std::copy(piece.begin(), piece.end(), at);
    return text;
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
