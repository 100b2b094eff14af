#include "wire_text.h"

#include "xmlParser.h"

#include <cstring>
#include <strings.h>

namespace upnp_wire {

namespace {

std::string text_of(const XMLNode& entry, const char* name) {
    return TextAtOrEmpty(FindChildNamed(entry, name), 0);
}

} // namespace

bool port_listing_of(const std::string& answer, std::vector<MappingRecord>& records) {
    const XMLNode listing =
        FindChildNamed(FindChildNamed(FindChildNamed(ParseXMLText(answer, "Envelope"), "Body"),
                                      "GetListOfPortMappingsResponse"),
                       "NewPortListing");
    // Some routers wrap the document in CDATA, others escape it. Either way the pieces
    // are joined in their order before the document is read on its own.
    std::string inner;
    for (int i = 0; i < ContentCount(listing); ++i) {
        const XMLContentItem item = ContentAt(listing, i);
        if (item.kind == XMLContentText)
            inner += item.text;
        else if (item.kind == XMLContentClear && std::strcmp(item.clear.openTag, "<![CDATA[") == 0)
            inner += item.clear.value;
    }
    const XMLNode list = ParseXMLText(inner, "PortMappingList");
    // The parser hands back the last element it looked at when none has the name asked for.
    const std::string* name = NodeName(list);
    if (name == nullptr ||
        ::strcasecmp(name->c_str() + (name->find(':') + 1), "PortMappingList") != 0)
        return false;
    int position = 0;
    for (XMLNode entry;
         !IsEmptyNode(entry = FindChildNamed(list, "PortMappingEntry", &position));) {
        MappingRecord record;
        record.description = text_of(entry, "NewDescription");
        record.protocol = text_of(entry, "NewProtocol");
        record.external_port = text_of(entry, "NewExternalPort");
        record.internal_client = text_of(entry, "NewInternalClient");
        record.internal_port = text_of(entry, "NewInternalPort");
        record.lease_duration = text_of(entry, "NewLeaseTime");
        records.push_back(record);
    }
    return true;
}

} // namespace upnp_wire
