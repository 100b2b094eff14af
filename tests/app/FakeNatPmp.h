// A NAT-PMP gateway behind the application's seam, with a clock of its own. It keeps the
// handle the way libnatpmp does: a first deadline 250 ms after a request, a retransmission each
// time a read finds the deadline passed (the delay doubling each time), and giving up with
// NATPMP_ERR_NOGATEWAYSUPPORT when the retry counter reaches nine (nine transmissions). Waiting in
// select() advances the clock instead of sleeping.
#pragma once

#include "NatPmp.h"

#include <mutex>
#include <vector>

class FakeNatPmp : public NatPmpApi {
  public:
    struct MappingRequest {
        int protocol;
        uint16_t private_port;
        uint16_t public_port;
        uint32_t lifetime;
    };

    // Script.
    int init_result = 0;              // initnatpmp's answer (non-zero: no gateway)
    int send_result = 2;              // sendpublicaddressrequest's answer
    int answer_on_transmission = 0;   // the transmission that is answered; 0: never
    int error_after_first = 0;        // non-zero: the first read fails with this result
    uint16_t public_port_offset = 0;  // the granted public port is the private one plus this
    uint32_t granted_lifetime = 7200; // lifetime the gateway grants (the one asked, when 0)

    // Observations.
    int transmissions() const;
    int inits() const;
    int closes() const;
    std::vector<MappingRequest> mapping_requests() const;
    long long now_ms() const;

    int initnatpmp(natpmp_t* p, int forcegw, in_addr_t forcedgw) override;
    int closenatpmp(natpmp_t* p) override;
    int sendpublicaddressrequest(natpmp_t* p) override;
    int sendnewportmappingrequest(natpmp_t* p, int protocol, uint16_t privateport,
                                  uint16_t publicport, uint32_t lifetime) override;
    int getnatpmprequesttimeout(natpmp_t* p, struct timeval* timeout) override;
    int readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) override;
    int select(int nfds, fd_set* readfds, struct timeval* timeout) override;

  private:
    void startRequest(natpmp_t* p);
    bool answered() const;

    mutable std::mutex mutex_;
    long long now_ms_ = 1000000;
    long long deadline_ms_ = 0;
    int request_transmissions_ = 0;
    int total_transmissions_ = 0;
    int inits_ = 0;
    int closes_ = 0;
    bool pending_mapping_ = false;
    MappingRequest last_mapping_{};
    std::vector<MappingRequest> mapping_requests_;
};
