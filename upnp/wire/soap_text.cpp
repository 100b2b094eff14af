#include "wire_text.h"

#include "xmlParser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <string_view>

namespace upnp_wire {

namespace {

template <std::size_t N> std::string_view decimal(char (&buffer)[N], std::size_t value) {
    return std::string_view(buffer,
                            std::size_t(std::to_chars(buffer, buffer + N, value).ptr - buffer));
}

} // namespace

std::string soap_request(const upnp_http::Url& to, const std::string& service_type,
                         const std::string& action, const std::string& arguments) {
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
    char port[8], size[24];
    // The Host header names host and port as Url::authority() does.
    const std::string_view header[] = {
        "POST ",
        to.path,
        " HTTP/1.1\r\nHOST: ",
        to.ipv6 ? "[" : "",
        to.host,
        to.ipv6 ? "]:" : ":",
        decimal(port, to.port),
        "\r\nSOAPACTION:\"",
        service_type,
        "#",
        action,
        "\"\r\nCONTENT-TYPE: text/xml ; charset=\"utf-8\"\r\nContent-Length: ",
        decimal(size, length),
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
