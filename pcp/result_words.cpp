#include "pcp_wire.h"

namespace pcp_wire {

namespace {

struct Words {
    int code;
    const char* name;
    const char* words;
};

const Words kWords[] = {
    {SUCCESS, "SUCCESS", "the router granted it"},
    {UNSUPP_VERSION, "UNSUPP_VERSION", "the router speaks an older protocol (NAT-PMP), not PCP"},
    {NOT_AUTHORIZED, "NOT_AUTHORIZED",
     "PCP is there but this computer may not map ports; which computers may is set in the "
     "router's own settings (its port sharing permissions for each device, or its UPnP and PCP "
     "access rules)"},
    {MALFORMED_REQUEST, "MALFORMED_REQUEST", "the router could not read the request"},
    {UNSUPP_OPCODE, "UNSUPP_OPCODE", "the router does not offer this PCP operation"},
    {UNSUPP_OPTION, "UNSUPP_OPTION", "the router does not take an option the request needs"},
    {MALFORMED_OPTION, "MALFORMED_OPTION", "the router could not read an option of the request"},
    {NETWORK_FAILURE, "NETWORK_FAILURE",
     "the router cannot map ports now: it has no working connection to the internet"},
    {NO_RESOURCES, "NO_RESOURCES", "the router has no room for another mapping now"},
    {UNSUPP_PROTOCOL, "UNSUPP_PROTOCOL", "the router does not map ports of this protocol"},
    {USER_EX_QUOTA, "USER_EX_QUOTA", "this computer holds as many mappings as the router allows"},
    {CANNOT_PROVIDE_EXTERNAL, "CANNOT_PROVIDE_EXTERNAL",
     "the router cannot give the external port or address asked for"},
    {ADDRESS_MISMATCH, "ADDRESS_MISMATCH",
     "the router saw the request come from another address than the one it names (is there "
     "another router between this computer and it?)"},
    {EXCESSIVE_REMOTE_PEERS, "EXCESSIVE_REMOTE_PEERS", "the router cannot add more remote peers"},
    {NO_ANSWER, "NO_ANSWER", "the router did not answer PCP"},
    {PORT_UNREACHABLE, "PORT_UNREACHABLE", "nothing listens for PCP on the router"},
    {SEND_FAILED, "SEND_FAILED", "the request could not be sent"},
    {INVALID_ARGUMENTS, "INVALID_ARGUMENTS", "the request names an address that cannot be used"},
    {SOCKET_ERROR, "SOCKET_ERROR", "this computer could not open a socket for PCP"},
};

const Words* find(int code) {
    for (const Words& w : kWords)
        if (w.code == code)
            return &w;
    return nullptr;
}

} // namespace

std::string result_name(int code) {
    const Words* w = find(code);
    return w ? w->name : "result " + std::to_string(code);
}

std::string result_words(int code, bool third_party, bool deleting) {
    // Routers refuse a mapping for another computer in one of these ways, depending on whether
    // they know the option and only do not allow it.
    if (third_party && (code == NOT_AUTHORIZED || code == UNSUPP_OPTION))
        return "the router does not let this computer map ports for another computer "
               "(THIRD_PARTY refused)";
    // A mapping is deleted with the nonce it was made with; the router keeps it from any other.
    if (deleting && code == NOT_AUTHORIZED)
        return "the router holds this mapping for another program (it was made with another "
               "nonce)";
    const Words* w = find(code);
    return w ? w->words : "the router refused with PCP result " + std::to_string(code);
}

} // namespace pcp_wire
