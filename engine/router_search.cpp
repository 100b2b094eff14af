#include "RouterEngine.h"
#include "explain.h"
#include "gateway/NatPmpGateway.h"
#include "gateway/UpnpGateway.h"
#include "lan_address.h"
#include "log.h"
#include "rules.h"

namespace quaymap {

namespace {

const char* const kAirPortName = "AirPort Station";
constexpr int kConnectTries = 60;

void log_line(const std::string& line) {
    quaymap_log("%s", line.c_str());
}

} // namespace

std::unique_ptr<Engine> make_engine(const EngineSettings& settings) {
    return std::make_unique<RouterEngine>(upnp_nat, settings);
}

RouterEngine::RouterEngine(UpnpNat& upnp, EngineSettings settings)
    : settings_(std::move(settings)), record_(settings_.record_folder,
                                              [this](const std::string& text) {
                                                  log_line(text);
                                                  if (settings_.notice)
                                                      settings_.notice(text);
                                              }),
      upnp_(upnp) {
    upnp_.log = log_line;
    upnp_.log_folder = settings_.log_folder;
    upnp_.console = settings_.console;
    natpmp_.log = log_line;
}

RouterEngine::~RouterEngine() {
    finish_natpmp_probe(false);
}

std::shared_ptr<Gateway> RouterEngine::gateway() const {
    const std::lock_guard<std::mutex> lock(state_mutex_);
    return gateway_;
}

std::string RouterEngine::this_computer() const {
    const std::lock_guard<std::mutex> lock(state_mutex_);
    return this_computer_;
}

bool RouterEngine::stopping() const {
    return settings_.stop_requested && settings_.stop_requested();
}

void RouterEngine::start_natpmp_probe() {
    natpmp_.resume();
    probe_ = std::thread([this] {
        std::lock_guard<std::mutex> lock(natpmp_mutex_);
        probe_address_.clear();
        quaymap_log("trying to find Apple router!!!");
        probe_result_ = natpmp_.open();
        if (probe_result_ != 0) {
            quaymap_log("can not find Apple router!!!");
            return;
        }
        quaymap_log("find Apple router!!!");
        quaymap_log("try to send public ip address request, find Apple router!!!");
        probe_result_ = natpmp_.public_address(probe_address_);
        if (probe_result_ == NATPMP_ERR_SENDERR)
            quaymap_log("send public ip address request error!!!");
    });
}

int RouterEngine::finish_natpmp_probe(bool wanted) {
    if (!probe_.joinable())
        return -1;
    // Once an IGD has answered, the NAT-PMP answer cannot change the outcome: no waiting for it.
    if (!wanted)
        natpmp_.cancel();
    probe_.join();
    return probe_result_;
}

bool RouterEngine::find_igd() {
    const std::lock_guard<std::mutex> lock(upnp_mutex_);
    upnp_.init(kConnectTries);
    if (!settings_.description_url.empty())
        return upnp_.open_description(settings_.description_url);
    if (!upnp_.discovery())
        return false;
    if (settings_.router_address.empty())
        return true;
    for (std::size_t i = 0; i < upnp_.routers.size(); ++i)
        if (upnp_.routers[i].address == settings_.router_address)
            return upnp_.use_router(i);
    return false;
}

SearchOutcome RouterEngine::igd_outcome(bool read_public_address) {
    std::lock_guard<std::mutex> lock(upnp_mutex_);
    SearchOutcome outcome;
    outcome.kind = upnp_.igd_version == 2 ? RouterKind::igd2 : RouterKind::igd1;
    outcome.name = upnp_.friendly_name;
    uint16_t port = 0;
    std::string path;
    UpnpNat::parse_url(upnp_.control_url, outcome.address, port, path);
    for (const IgdRouter& router : upnp_.routers)
        outcome.routers.push_back({router.igd_version == 2 ? RouterKind::igd2 : RouterKind::igd1,
                                   router.friendly_name, router.address});
    std::string address;
    if (read_public_address && upnp_.get_external_ip(address))
        outcome.public_address = address;
    return outcome;
}

void RouterEngine::settle(const SearchOutcome& outcome) {
    std::shared_ptr<Gateway> chosen;
    if (outcome.kind == RouterKind::natpmp)
        chosen = std::make_shared<NatPmpGateway>(natpmp_, natpmp_mutex_, outcome.address,
                                                 outcome.lan_address);
    else if (outcome.kind != RouterKind::none) {
        UpnpGateway::Found found;
        found.kind = outcome.kind;
        found.address = outcome.address;
        found.this_computer = outcome.lan_address;
        {
            const std::lock_guard<std::mutex> lock(upnp_mutex_);
            found.udn = upnp_.udn;
            found.boot_id = upnp_.boot_id;
            found.notify_group = upnp_.ssdp_address;
            found.notify_port = upnp_.notify_port;
        }
        chosen =
            std::make_shared<UpnpGateway>(upnp_, upnp_mutex_, found, [this] { return stopping(); });
    }
    const std::lock_guard<std::mutex> lock(state_mutex_);
    gateway_ = std::move(chosen);
    this_computer_ = outcome.lan_address;
}

SearchOutcome RouterEngine::choose(std::size_t index) {
    const std::shared_ptr<Gateway> current = gateway();
    if (!current || !current->abilities().lists_table)
        return {};
    {
        const std::lock_guard<std::mutex> lock(upnp_mutex_);
        if (!upnp_.use_router(index))
            return {};
    }
    SearchOutcome outcome = igd_outcome(true);
    outcome.lan_address = local_address_towards(outcome.address);
    settle(outcome);
    return outcome;
}

SearchOutcome RouterEngine::search(const SearchOptions& options) {
    settle(SearchOutcome());
    // An earlier search's probe (cancelled or not) is over before its client is used again.
    finish_natpmp_probe(false);
    const bool ask_natpmp = settings_.description_url.empty();
    if (ask_natpmp)
        start_natpmp_probe();
    const bool igd = find_igd();
    const int natpmp = finish_natpmp_probe(!igd);

    SearchOutcome outcome;
    const std::string& wanted = settings_.router_address;
    if (igd) {
        outcome = igd_outcome(options.read_public_address);
    } else if (ask_natpmp && natpmp == 0 && (wanted.empty() || wanted == natpmp_.gateway())) {
        std::lock_guard<std::mutex> lock(natpmp_mutex_);
        outcome.kind = RouterKind::natpmp;
        outcome.name = kAirPortName;
        outcome.address = natpmp_.gateway();
        outcome.public_address = probe_address_;
        outcome.routers.push_back({outcome.kind, outcome.name, outcome.address});
    } else if (!wanted.empty()) {
        outcome.reason = "No router answered at " + wanted + ".";
    } else if (ask_natpmp) {
        outcome.reason = "No router answered: no UPnP Internet Gateway Device (SSDP) and no "
                         "NAT-PMP gateway.";
    } else {
        std::lock_guard<std::mutex> lock(upnp_mutex_);
        std::string why = upnp_.last_error;
        while (!why.empty() && why.back() == '\n')
            why.pop_back();
        outcome.reason =
            "No usable router description at " + settings_.description_url + ": " + why;
    }
    outcome.lan_address = local_address_towards(outcome.address);
    settle(outcome);
    if (outcome.kind == RouterKind::natpmp)
        quaymap_log("search result: natpmp %s", outcome.address.c_str());
    else if (outcome.kind != RouterKind::none)
        quaymap_log("search result: %s \"%s\"", kind_name(outcome.kind), outcome.name.c_str());
    else
        quaymap_log("search result: none");
    return outcome;
}

} // namespace quaymap
