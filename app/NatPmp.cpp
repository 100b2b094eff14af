#include "NatPmp.h"

#include "log.h"

#include <sys/socket.h>

int LibNatPmp::initnatpmp(natpmp_t* p, int forcegw, in_addr_t forcedgw) {
    return ::initnatpmp(p, forcegw, forcedgw);
}
int LibNatPmp::closenatpmp(natpmp_t* p) {
    return ::closenatpmp(p);
}
int LibNatPmp::sendpublicaddressrequest(natpmp_t* p) {
    return ::sendpublicaddressrequest(p);
}
int LibNatPmp::sendnewportmappingrequest(natpmp_t* p, int protocol, uint16_t privateport,
                                         uint16_t publicport, uint32_t lifetime) {
    return ::sendnewportmappingrequest(p, protocol, privateport, publicport, lifetime);
}
int LibNatPmp::getnatpmprequesttimeout(natpmp_t* p, struct timeval* timeout) {
    return ::getnatpmprequesttimeout(p, timeout);
}
int LibNatPmp::readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) {
    return ::readnatpmpresponseorretry(p, response);
}
int LibNatPmp::select(int nfds, fd_set* readfds, struct timeval* timeout) {
    return ::select(nfds, readfds, nullptr, nullptr, timeout);
}

void LibNatPmp::discard_stale_answers(natpmp_t* p) {
    if (p->s < 0)
        return;
    char datagram[64];
    while (::recv(p->s, datagram, sizeof datagram, MSG_DONTWAIT) >= 0) {
    }
}

int natpmp_mapping_answer_type(int protocol) {
    return protocol == NATPMP_PROTOCOL_UDP ? NATPMP_RESPTYPE_UDPPORTMAPPING
                                           : NATPMP_RESPTYPE_TCPPORTMAPPING;
}

int wait_for_natpmp_answer(NatPmpApi& api, natpmp_t* handle, natpmpresp_t* response,
                           int expected_type) {
    if (handle->s < 0 || handle->s >= FD_SETSIZE)
        return NATPMP_ERR_SOCKETERROR;
    int transmissions = 1;
    int seen_try = handle->try_number;
    bool capped = false;
    // A seam that neither answers nor ever gives up must not keep the search forever.
    for (int turn = 0; turn < kNatPmpMaxTurns; ++turn) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(handle->s, &readable);
        struct timeval timeout {};
        if (api.getnatpmprequesttimeout(handle, &timeout) != 0)
            return NATPMP_ERR_GETTIMEOFDAYERR;
        quaymap_log("geted timeout func");
        // A deadline already passed gives a negative time left; select wants none at all.
        if (timeout.tv_sec < 0 || timeout.tv_usec < 0)
            timeout = {};
        api.select(FD_SETSIZE, &readable, &timeout);
        const int result = api.readnatpmpresponseorretry(handle, response);
        if (result == 0 && response->type != expected_type)
            return kNatPmpStrayAnswer;
        if (result != NATPMP_TRYAGAIN)
            return result;
        if (!capped && handle->try_number > seen_try) {
            transmissions += handle->try_number - seen_try;
            seen_try = handle->try_number;
        }
        if (!capped && transmissions >= kNatPmpMaxTransmissions) {
            handle->try_number = kNatPmpLibraryGiveUp;
            capped = true;
        }
    }
    return NATPMP_ERR_NOGATEWAYSUPPORT;
}
