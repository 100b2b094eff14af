#include "step_setup.h"

#include "figures.h"

void open_quietly(UpnpNat& nat, const std::string& url) {
    nat.console = nullptr;
    nat.init(60);
    if (!nat.open_description(url))
        die("the client cannot open " + url + ": " + nat.last_error);
}

FloorPlan plan_for(const Args& a, bool search) {
    UpnpNat nat;
    open_quietly(nat, a.desc_url);
    if (nat.igd_version != (a.mode == "igd2" ? 2 : 1))
        die("the router is IGD v" + std::to_string(nat.igd_version) + ", not mode " + a.mode);
    FloorPlan plan;
    plan.desc_url = a.desc_url;
    plan.control_url = nat.control_url;
    plan.service = nat.service_type;
    plan.v2 = nat.igd_version == 2;
    plan.search = search;
    return plan;
}

void check_rows(const std::string& who, size_t rows, size_t n, bool ok) {
    if (!ok || rows != n)
        die(who + " listed " + std::to_string(rows) + " of " + std::to_string(n) + " mappings" +
            (ok ? "" : " and failed"));
}
