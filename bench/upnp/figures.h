// What every step of the lab bench shares: the clock, medians, the machine's load, failing
// loudly, and the way the summary writes a figure.
#pragma once

#include <chrono>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start);

// A figure not taken (the window left out, a peer that failed).
extern const double kNone;

double median(std::vector<double> values);

[[noreturn]] void die(const std::string& text);

// Other work on the machine slows the router, upnpc and QuayMap alike: the summary says how
// busy it was.
double load_average();

// "–" for a figure not taken.
std::string fmt(double value, const char* format = "%.1f");
