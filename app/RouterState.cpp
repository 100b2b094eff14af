#include "RouterState.h"

std::atomic<bool> router_found{false};
std::atomic<bool> apple_router{false};

natpmp_t natpmp_handle{};
natpmpresp_t natpmp_response{};

std::mutex& client_mutex() {
    static std::mutex mutex;
    return mutex;
}
