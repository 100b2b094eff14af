// quaymap-cli: the engine of the QuayMap window, as a command for machines without a desktop.
// Data goes to standard output, messages to standard error.
#include "RouterEngine.h"
#include "explain.h"
#include "keep.h"
#include "log.h"
#include "options.h"
#include "output.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace quaymap_cli;
using quaymap::CommandResult;
using quaymap::Verdict;

namespace {

constexpr int kExitRefused = 1, kExitUsage = 2, kExitNoRouter = 3, kExitUnreachable = 4;

const char* command_name(Command command) {
    switch (command) {
    case Command::status:
        return "status";
    case Command::list:
        return "list";
    case Command::add:
        return "add";
    case Command::remove:
        return "delete";
    default:
        return "";
    }
}

int exit_status(const CommandResult& result) {
    switch (result.verdict) {
    case Verdict::done:
        return 0;
    case Verdict::refused:
        return kExitRefused;
    case Verdict::unreachable:
        return kExitUnreachable;
    case Verdict::invalid:
        break;
    }
    return kExitUsage;
}

void print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void complain(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

int run_steps(quaymap::Engine& engine, const Options& options,
              const quaymap::SearchOutcome& router) {
    const bool adding = options.command == Command::add;
    std::vector<Step> steps;
    int status = 0;
    for (const std::string& protocol : options.protocols) {
        Step step;
        step.protocol = protocol;
        step.external_port = options.external_port;
        if (adding) {
            quaymap::AddRequest request;
            request.name = options.name;
            request.external_port = options.external_port;
            request.internal_port = options.internal_port;
            request.protocol = protocol;
            request.internal_client = options.address;
            request.lease = options.lease;
            step.result = engine.add(request);
        } else {
            // A NAT-PMP mapping is named by this computer's port; a UPnP one by the router's.
            const std::string port = std::to_string(options.external_port);
            step.result = engine.remove({"", protocol, port, "", port, ""});
        }
        if (!step.result.ok()) {
            complain(std::to_string(step.external_port) + "/" + protocol + ": " +
                     step.result.message);
            if (status == 0)
                status = exit_status(step.result);
        } else if (!options.json) {
            print(step_text(adding, step));
        }
        steps.push_back(step);
    }
    if (options.json)
        print(steps_json(command_name(options.command), router, steps));
    if (adding && options.keep && status == 0)
        return keep_mappings(engine, steps);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parse_options(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        if (options.json)
            print(failure_json(command_name(options.command), "usage", error));
        complain("quaymap-cli: " + error + "\nTry 'quaymap-cli --help'.");
        return kExitUsage;
    }
    if (options.command == Command::help) {
        print(kUsage);
        return 0;
    }
    if (options.command == Command::version) {
        print("quaymap-cli " QUAYMAP_VERSION "\n");
        return 0;
    }
    // The protocol diagnostics of the window program are noise here unless asked for.
    set_log_echo(options.verbose);
    upnp_nat.console = options.verbose ? stderr : nullptr;

    quaymap::RouterEngine engine;
    quaymap::SearchOptions search;
    search.description_url = options.router_url;
    search.read_public_address = options.command == Command::status;
    const quaymap::SearchOutcome router = engine.search(search);
    if (router.kind == quaymap::RouterKind::none) {
        if (options.json)
            print(failure_json(command_name(options.command), "no_router", router.reason));
        complain("quaymap-cli: no router found. " + router.reason);
        return kExitNoRouter;
    }

    switch (options.command) {
    case Command::status: {
        print(options.json ? status_json(router) : status_text(router));
        const std::string warning = quaymap::double_nat_warning(router.public_address);
        if (!warning.empty())
            complain(warning);
        return 0;
    }
    case Command::list: {
        std::vector<MappingRecord> rows;
        const CommandResult result =
            engine.list([&rows](const MappingRecord& row) { rows.push_back(row); });
        print(options.json ? list_json(router, rows, result) : list_text(rows));
        if (!result.ok())
            complain(result.message);
        else if (result.rows_cut)
            complain("The router lists more mappings than are read; the list is cut.");
        return exit_status(result);
    }
    case Command::add:
    case Command::remove:
        return run_steps(engine, options, router);
    default:
        return kExitUsage;
    }
}
