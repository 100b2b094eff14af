// The router's exchanges done by hand, without QuayMap's client, to time the router alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One request on a connection of its own, read to the router's close (miniupnpd closes after
// each answer); `ms` from connect to close.
bool raw_exchange(const std::string& host, uint16_t port, const std::string& request,
                  std::string& answer, double& ms);

// The first SSDP answer to the search QuayMap sends (both gateway versions in one burst).
bool ssdp_round_trip(double& ms);

std::string soap_request(const std::string& host, uint16_t port, const std::string& path,
                         const std::string& service, const std::string& action,
                         const std::string& arguments);

bool status_200(const std::string& answer);

size_t occurrences(const std::string& text, const std::string& what);
