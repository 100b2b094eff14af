#include "raw_exchange.h"

#include "figures.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

bool raw_exchange(const std::string& host, uint16_t port, const std::string& request,
                  std::string& answer, double& ms) {
    answer.clear();
    const Clock::time_point start = Clock::now();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return false;
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    ms = ms_since(start);
    close(fd);
    return !answer.empty();
}

bool ssdp_round_trip(double& ms) {
    static const char* const searches[] = {
        "M-SEARCH * HTTP/1.1\r\nHOST:239.255.255.250:1900\r\n"
        "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
        "Man:\"ssdp:discover\"\r\nMX:3\r\n\r\n",
        "M-SEARCH * HTTP/1.1\r\nHOST:239.255.255.250:1900\r\n"
        "ST:urn:schemas-upnp-org:device:InternetGatewayDevice:2\r\n"
        "Man:\"ssdp:discover\"\r\nMX:3\r\n\r\n"};
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(1900);
    inet_pton(AF_INET, "239.255.255.250", &to.sin_addr);
    const Clock::time_point start = Clock::now();
    for (const char* search : searches)
        sendto(fd, search, std::strlen(search), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    const bool answered = poll(&p, 1, 5000) == 1;
    char buffer[4096];
    if (answered)
        recv(fd, buffer, sizeof buffer, 0);
    ms = ms_since(start);
    close(fd);
    return answered;
}

std::string soap_request(const std::string& host, uint16_t port, const std::string& path,
                         const std::string& service, const std::string& action,
                         const std::string& arguments) {
    const std::string body = "<?xml version=\"1.0\"?>\r\n<s:Envelope "
                             "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                             "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
                             "<s:Body><u:" +
                             action + " xmlns:u=\"" + service + "\">" + arguments +
                             "</u:" + action + "></s:Body></s:Envelope>\r\n";
    return "POST " + path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
           "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nSOAPAction: \"" + service + "#" +
           action + "\"\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

bool status_200(const std::string& answer) {
    return answer.compare(0, 12, "HTTP/1.1 200") == 0 || answer.compare(0, 12, "HTTP/1.0 200") == 0;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}
