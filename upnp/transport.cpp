#include "UpnpNat.h"
#include "wire/answer_walk.h"
#include "http/exchange.h"
#include "wire/wire_text.h"

namespace {

std::string connect_failure(const std::string& host, uint16_t port) {
    // Built whole rather than in a fixed buffer: the host comes from the router and may be long.
    return "Fail to connect to " + host + ":" + std::to_string(port) + " (using TCP)\n";
}

} // namespace

upnp_http::Limits UpnpNat::limits(int max_tries, upnp_http::Clock::time_point deadline) const {
    upnp_http::Limits limits;
    limits.connect_tries = connect_tries;
    limits.connect_timeout_ms = timings.connect_timeout_ms;
    limits.connect_pause_ms = timings.connect_pause_ms;
    limits.connect_budget_ms = timings.connect_budget_ms;
    limits.read_wait_ms = timings.read_wait_ms;
    limits.max_tries = max_tries;
    limits.body_cap = kAnswerCap;
    limits.deadline = deadline;
    return limits;
}

bool UpnpNat::tcp_connect(const std::string& host, uint16_t port) {
    // A socket that no exchange closed is not read again; dropping it here keeps descriptors
    // from piling up over many searches.
    close_tcp();
    upnp_http::Exchange connection(host, port, std::string(), limits(0));
    connection.run();
    if (!connection.connected())
        return fail(connect_failure(host, port), Failure::unreachable);
    tcp_socket = connection.release();
    return succeed(STATUS_CONNECTED);
}

std::string UpnpNat::receive_until(const std::string& marker, int max_tries) {
    if (tcp_socket < 0)
        return std::string();
    upnp_http::Exchange answer(tcp_socket, limits(max_tries), marker);
    answer.run();
    return answer.text();
}

bool UpnpNat::transfer(const upnp_http::Url& to, std::string request, int max_tries,
                       const std::string& marker, Echo echo, upnp_http::Clock::time_point deadline,
                       std::string& answer, const std::string& source) {
    close_tcp();
    answer_problem_.clear();
    upnp_http::Limits bounds = limits(max_tries, deadline);
    bounds.source = source;
    upnp_http::Exchange exchange(to.host, to.port, std::move(request), bounds, marker);
    if (echo == Echo::chunks)
        exchange.on_read = [this](const char* data, std::size_t size) {
            std::string chunk;
            upnp_http::append_received(chunk, data, size);
            say("the buff is %s\n", chunk.c_str());
        };
    else if (echo == Echo::marks)
        exchange.on_read = [this](const char*, std::size_t) { say("cccccccccccccccccccc\n"); };
    exchange.run();
    if (!exchange.connected())
        return fail(connect_failure(to.host, to.port), Failure::unreachable);
    status = STATUS_CONNECTED;
    answer = exchange.text();
    answer_problem_ = exchange.error();
    return true;
}

upnp_detail::AnswerWalk UpnpNat::read_answer(const std::string& answer, const std::string& action) {
    // A body whose framing broke may still hold a whole envelope: it is not the router's word.
    upnp_detail::AnswerWalk walk(answer, action, !answer_problem_.empty());
    upnp_error_code = 0;
    upnp_error_description.clear();
    walk.upnp_error(upnp_error_code, upnp_error_description);
    return walk;
}
