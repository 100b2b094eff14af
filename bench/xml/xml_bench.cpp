// Parser throughput and allocation figures for the two documents a gateway sends: a large
// device description and a run of SOAP answers. Prints figures; asserts nothing.
#include "xmlParser.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

std::string Service(int i) {
    const char* type = i % 3 == 0 ? "WANIPConnection" : i % 3 == 1 ? "WANPPPConnection" : "Layer3";
    const std::string n = std::to_string(i);
    return "<service>\n<serviceType>urn:schemas-upnp-org:service:" + std::string(type) +
           ":1</serviceType>\n<serviceId>urn:upnp-org:serviceId:S" + n +
           "</serviceId>\n<controlURL>/ctl/" + n + "</controlURL>\n<eventSubURL>/evt/" + n +
           "</eventSubURL>\n<SCPDURL>/scpd/" + n + ".xml</SCPDURL>\n</service>\n";
}

std::string Device(int i, int depth) {
    std::string d = "<device>\n<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>\n"
                    "<friendlyName>Gateway &amp; Router " +
                    std::to_string(i) +
                    "</friendlyName>\n<manufacturer>QuayMap Lab</manufacturer>\n"
                    "<modelName>Bench</modelName>\n<UDN>uuid:00000000-0000-0000-0000-" +
                    std::to_string(100000000000 + i) + "</UDN>\n<serviceList>\n";
    for (int s = 0; s < 4; ++s)
        d += Service(i * 4 + s);
    d += "</serviceList>\n";
    if (depth > 0) {
        d += "<deviceList>\n";
        for (int c = 0; c < 2; ++c)
            d += Device(i * 2 + c + 1, depth - 1);
        d += "</deviceList>\n";
    }
    return d + "</device>\n";
}

std::string Description() {
    std::string text = "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\n"
                       "<specVersion><major>1</major><minor>0</minor></specVersion>\n"
                       "<URLBase>http://127.0.0.1:5000</URLBase>\n";
    for (int i = 0; text.size() < 100 * 1024; ++i)
        text += Device(i * 16, 3);
    return text + "</root>\n";
}

std::string SoapAnswer(int i) {
    const std::string body =
        "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/"
        "envelope/\" s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
        "<u:GetGenericPortMappingEntryResponse xmlns:u=\"urn:schemas-upnp-org:service:"
        "WANIPConnection:1\"><NewRemoteHost></NewRemoteHost><NewExternalPort>" +
        std::to_string(1024 + i) + "</NewExternalPort><NewProtocol>" + (i % 2 ? "UDP" : "TCP") +
        "</NewProtocol><NewInternalPort>" + std::to_string(2048 + i) +
        "</NewInternalPort><NewInternalClient>192.168.1." + std::to_string(i % 250 + 2) +
        "</NewInternalClient><NewEnabled>1</NewEnabled><NewPortMappingDescription>app " +
        std::to_string(i) +
        "</NewPortMappingDescription><NewLeaseDuration>0</NewLeaseDuration>"
        "</u:GetGenericPortMappingEntryResponse></s:Body></s:Envelope>\r\n";
    return "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: " + std::to_string(body.size()) +
           "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nEXT:\r\nSERVER: Linux "
           "UPnP/1.0\r\n\r\n" +
           body;
}

long CountNodes(const XMLNode& node) {
    long count = 1;
    for (int i = 0; i < ChildCount(node); ++i)
        count += CountNodes(ChildAt(node, i));
    return count;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

volatile long sink = 0;

} // namespace

int main() {
    using Clock = std::chrono::steady_clock;

    // Device description: one large document parsed many times.
    const std::string description = Description();
    const long descriptionNodes = CountNodes(ParseXMLText(description, nullptr)) - 1;
    long before = allocations.load();
    { XMLNode once = ParseXMLText(description, "root"); }
    const long descriptionAllocations = allocations.load() - before;
    const int rounds = 200;
    auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        XMLNode root = ParseXMLText(description, "root");
        sink += ChildCount(root);
    }
    double seconds = Seconds(start);
    std::printf("device description: %zu bytes, %ld elements, %d parses in %.3f s\n",
                description.size(), descriptionNodes, rounds, seconds);
    std::printf("  %.1f MB/s, %.2f allocations per element (%ld per parse)\n",
                double(description.size()) * rounds / seconds / 1e6,
                double(descriptionAllocations) / double(descriptionNodes), descriptionAllocations);

    // SOAP answers: many small documents, each looked up and read as the client does.
    std::vector<std::string> answers;
    size_t soapBytes = 0;
    for (int i = 0; i < 1000; ++i) {
        answers.push_back(SoapAnswer(i));
        soapBytes += answers.back().size();
    }
    long soapNodes = 0;
    for (const std::string& answer : answers)
        soapNodes += CountNodes(ParseXMLText(answer, nullptr)) - 1;
    const int soapRounds = 20;
    before = allocations.load();
    start = Clock::now();
    for (int r = 0; r < soapRounds; ++r) {
        for (const std::string& answer : answers) {
            XMLNode envelope = ParseXMLText(answer, "Envelope");
            XMLNode entry = FindChildNamed(FindChildNamed(envelope, "Body"),
                                           "GetGenericPortMappingEntryResponse");
            sink += long(TextAtOrEmpty(ChildNamedAt(entry, "NewExternalPort", 0), 0).size());
        }
    }
    seconds = Seconds(start);
    const long soapAllocations = (allocations.load() - before) / soapRounds;
    std::printf("SOAP answers: 1000 answers, %zu bytes, %ld elements, %d rounds in %.3f s\n",
                soapBytes, soapNodes, soapRounds, seconds);
    std::printf("  %.1f MB/s, %.0f answers/s, %.2f allocations per element (lookups included)\n",
                double(soapBytes) * soapRounds / seconds / 1e6, 1000.0 * soapRounds / seconds,
                double(soapAllocations) / double(soapNodes));

    // Writing the description back out.
    const XMLNode tree = ParseXMLText(description, nullptr);
    size_t written = 0;
    start = Clock::now();
    for (int i = 0; i < 50; ++i)
        written += createXMLString(tree, 1)->size();
    seconds = Seconds(start);
    std::printf("writer: %.1f MB/s indented\n", double(written) / seconds / 1e6);
    return 0;
}
