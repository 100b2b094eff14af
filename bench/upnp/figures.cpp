#include "figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

const double kNone = std::nan("");

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    values.erase(
        std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
        values.end());
    if (values.empty())
        return kNone;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void die(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "lab bench: %s\n", text.c_str());
    std::exit(1);
}

double load_average() {
    double load = kNone;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = kNone;
        std::fclose(f);
    }
    return load;
}

std::string fmt(double value, const char* format) {
    if (std::isnan(value))
        return "–";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
