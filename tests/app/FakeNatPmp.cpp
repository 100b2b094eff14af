#include "FakeNatPmp.h"

int FakeNatPmp::transmissions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_transmissions_;
}
int FakeNatPmp::inits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inits_;
}
int FakeNatPmp::closes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closes_;
}
std::vector<FakeNatPmp::MappingRequest> FakeNatPmp::mapping_requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mapping_requests_;
}
long long FakeNatPmp::now_ms() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_ms_;
}

int FakeNatPmp::initnatpmp(natpmp_t* p, int, in_addr_t) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++inits_;
    *p = natpmp_t{};
    if (init_result != 0) {
        p->s = -1;
        return init_result;
    }
    p->s = 7; // never read: the fake's select() decides readiness
    return 0;
}

int FakeNatPmp::closenatpmp(natpmp_t* p) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++closes_;
    p->s = -1;
    return 0;
}

void FakeNatPmp::startRequest(natpmp_t* p) {
    p->has_pending_request = 1;
    p->try_number = 0;
    deadline_ms_ = now_ms_ + 250;
    request_transmissions_ = 1;
    ++total_transmissions_;
}

int FakeNatPmp::sendpublicaddressrequest(natpmp_t* p) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_mapping_ = false;
    if (send_result == 2)
        startRequest(p);
    return send_result;
}

int FakeNatPmp::sendnewportmappingrequest(natpmp_t* p, int protocol, uint16_t privateport,
                                          uint16_t publicport, uint32_t lifetime) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_mapping_ = true;
    last_mapping_ = MappingRequest{protocol, privateport, publicport, lifetime};
    mapping_requests_.push_back(last_mapping_);
    startRequest(p);
    return 12;
}

int FakeNatPmp::getnatpmprequesttimeout(natpmp_t*, struct timeval* timeout) {
    std::lock_guard<std::mutex> lock(mutex_);
    const long long left = deadline_ms_ - now_ms_;
    timeout->tv_sec = left / 1000;
    timeout->tv_usec = (left % 1000) * 1000;
    return 0;
}

bool FakeNatPmp::answered() const {
    return answer_on_transmission > 0 && request_transmissions_ >= answer_on_transmission;
}

int FakeNatPmp::select(int, fd_set*, struct timeval* timeout) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (answered())
        return 1;
    now_ms_ += timeout->tv_sec * 1000 + timeout->tv_usec / 1000;
    return 0;
}

int FakeNatPmp::readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_after_first != 0)
        return error_after_first;
    if (answered()) {
        p->has_pending_request = 0;
        *response = natpmpresp_t{};
        if (pending_mapping_) {
            response->type = static_cast<uint16_t>(last_mapping_.protocol);
            response->pnu.newportmapping.privateport = last_mapping_.private_port;
            response->pnu.newportmapping.mappedpublicport =
                last_mapping_.lifetime == 0
                    ? 0
                    : static_cast<uint16_t>(last_mapping_.private_port + public_port_offset);
            response->pnu.newportmapping.lifetime = last_mapping_.lifetime == 0 ? 0
                                                    : granted_lifetime != 0
                                                        ? granted_lifetime
                                                        : last_mapping_.lifetime;
        } else {
            response->type = NATPMP_RESPTYPE_PUBLICADDRESS;
        }
        return 0;
    }
    if (now_ms_ < deadline_ms_)
        return NATPMP_TRYAGAIN;
    ++p->try_number;
    if (p->try_number >= 9)
        return NATPMP_ERR_NOGATEWAYSUPPORT;
    deadline_ms_ += 250LL << (p->try_number - 1);
    ++request_transmissions_;
    ++total_transmissions_;
    return NATPMP_TRYAGAIN;
}
