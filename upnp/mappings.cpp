#include "UpnpNat.h"
#include "answer_walk.h"
#include "wire_text.h"

#include <cstdio>

namespace {

constexpr int kEntryReads = 10;

std::string entry_arguments(int index) {
    return "<NewPortMappingIndex>" + std::to_string(index) +
           "</NewPortMappingIndex><NewRemoteHost></NewRemoteHost>\r\n"
           "<NewExternalPort></NewExternalPort>\r\n<NewProtocol></NewProtocol>\r\n"
           "<NewInternalPort></NewInternalPort>\r\n<NewInternalClient></NewInternalClient>\r\n"
           "<NewEnabled>1</NewEnabled>\r\n"
           "<NewPortMappingDescription></NewPortMappingDescription>\r\n"
           "<NewLeaseDuration></NewLeaseDuration>\r\n";
}

std::string totally(int count) {
    return "Totally " + std::to_string(count) + " mapping entries.\n";
}

} // namespace

bool UpnpNat::get_port_mappings() {
    mappings.clear();
    mapping_lines.clear();
    std::string host;
    uint16_t port = 0;
    std::string path;
    if (!parse_url(control_url, host, port, path))
        return fail("Fail to parseURl: " + control_url + "\n");

    for (int index = 0;; ++index) {
        // A gateway that keeps inventing entries must not keep the list growing for ever.
        if (index >= kIndexCap)
            return !fail(totally(index));
        if (!exchange(host, port, path, "GetGenericPortMappingEntry", entry_arguments(index),
                      kEntryReads, last_response))
            return false;
        close_tcp();
        if (!upnp_wire::http_status_is_200(last_response))
            return !fail(totally(index));
        if (!parse_mapping_info())
            return true;
        std::printf("mapping[%d]:%s\n", index, mapping_lines.back().c_str());
        std::fflush(stdout);
        status = STATUS_READ;
    }
}

bool UpnpNat::parse_mapping_info() {
    upnp_detail::AnswerWalk walk(last_response, "GetGenericPortMappingEntry");
    MappingRecord record;
    record.external_port = walk.argument("NewExternalPort");
    record.protocol = walk.argument("NewProtocol");
    record.internal_port = walk.argument("NewInternalPort");
    record.internal_client = walk.argument("NewInternalClient");
    record.description = walk.argument("NewPortMappingDescription");
    if (!walk.ok())
        return fail(walk.error());
    mapping_lines.push_back(record.external_port + "/" + record.protocol + "[" +
                            record.description + "]-->" + record.internal_client + ":" +
                            record.internal_port + "\r\n");
    // A gateway that answers past its last entry with a copy of that entry ends the list here;
    // two different mappings that only share a description (TCP and UDP of one program) do not.
    if (!mappings.empty() && mappings.back() == record)
        return false;
    mappings.push_back(record);
    return true;
}
