// NAT-PMP goes through this seam: the calls of libnatpmp that the application makes, plus the
// wait on the handle's socket. The default implementation calls the library; tests put in a
// scripted router and a clock of their own.
#pragma once

#include <natpmp.h>
#include <sys/select.h>

class NatPmpApi {
  public:
    virtual ~NatPmpApi() = default;
    virtual int initnatpmp(natpmp_t* p, int forcegw, in_addr_t forcedgw) = 0;
    virtual int closenatpmp(natpmp_t* p) = 0;
    virtual int sendpublicaddressrequest(natpmp_t* p) = 0;
    virtual int sendnewportmappingrequest(natpmp_t* p, int protocol, uint16_t privateport,
                                          uint16_t publicport, uint32_t lifetime) = 0;
    virtual int getnatpmprequesttimeout(natpmp_t* p, struct timeval* timeout) = 0;
    virtual int readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) = 0;
    // Waits until a descriptor of the set is readable or the timeout has run out.
    virtual int select(int nfds, fd_set* readfds, struct timeval* timeout) = 0;
    // Drops answers still queued on the handle's socket (a late answer to an earlier request),
    // so that the next wait hears only the answer to the request it follows.
    virtual void discard_stale_answers(natpmp_t*) {}
};

// The library itself.
class LibNatPmp : public NatPmpApi {
  public:
    int initnatpmp(natpmp_t* p, int forcegw, in_addr_t forcedgw) override;
    int closenatpmp(natpmp_t* p) override;
    int sendpublicaddressrequest(natpmp_t* p) override;
    int sendnewportmappingrequest(natpmp_t* p, int protocol, uint16_t privateport,
                                  uint16_t publicport, uint32_t lifetime) override;
    int getnatpmprequesttimeout(natpmp_t* p, struct timeval* timeout) override;
    int readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) override;
    int select(int nfds, fd_set* readfds, struct timeval* timeout) override;
    void discard_stale_answers(natpmp_t* p) override;
};

// A request is sent at most this many times (the first transmission included).
constexpr int kNatPmpMaxTransmissions = 3;
// The library gives a request up once its retry counter has reached this value.
constexpr int kNatPmpLibraryGiveUp = 9;

// Bound on the turns of one wait, far above what three transmissions need.
constexpr int kNatPmpMaxTurns = 1000;

// The wait's result for an answer of another kind than the request asked for: the library
// matches no answer to its request, and a stray one must never pass for a grant.
constexpr int kNatPmpStrayAnswer = -1000;

// The kind of answer a mapping request of this protocol gets.
int natpmp_mapping_answer_type(int protocol);

// Waits for the answer to the request just sent on the handle, logging "geted timeout func" at
// each turn. Returns 0 when the gateway answered with an answer of `expected_type` (the answer
// is in response), kNatPmpStrayAnswer for an answer of another kind, otherwise the failing
// result. The library retransmits by itself whenever its deadline has passed; the wait
// counts those retransmissions and, once the request has gone out three times, moves the
// library's counter to its give-up value so that the next deadline ends the request instead of
// sending it a fourth time.
int wait_for_natpmp_answer(NatPmpApi& api, natpmp_t* handle, natpmpresp_t* response,
                           int expected_type);
