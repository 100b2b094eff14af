// quaymap-cli: the engine of the QuayMap window, as a command for machines without a desktop.
// Data goes to standard output, messages to standard error.
#include "RouterEngine.h"
#include "explain.h"
#include "keep.h"
#include "log.h"
#include "options.h"
#include "output.h"
#include "steps.h"
#include "terminal.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace quaymap_cli;
using quaymap::CommandResult;

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parse_options(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        if (options.json)
            print(failure_json(command_name(options.command), "usage", error));
        complain("quaymap-cli: " + error);
        complain("Try 'quaymap-cli --help'.");
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
    // The trace holds the router's answers as they came.
    upnp_nat.console = options.verbose ? escaping_stream(stderr) : nullptr;

    quaymap::RouterEngine engine;
    quaymap::SearchOptions search;
    search.description_url = options.router_url;
    search.router_address = options.router_address;
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
        // Room for a large home router's table at once: untouched memory costs nothing, and
        // no row is copied again as the list grows.
        rows.reserve(512);
        const CommandResult result =
            engine.list([&rows](const MappingRecord& row) { rows.push_back(row); });
        print(options.json ? list_json(router, rows, result) : list_text(rows));
        if (!result.ok())
            complain(result.message);
        else if (result.rows_cut)
            complain("The router lists more mappings than are read; the list is cut.");
        if (!result.unread.empty())
            complain(quaymap::unread_text(result.unread));
        return result.ok() && !result.complete() ? kExitIncomplete : exit_status(result);
    }
    case Command::add:
    case Command::remove:
        if (options.keep)
            engine.set_stop_check(signal_time().stop_pending);
        return run_steps(engine, options, router);
    default:
        return kExitUsage;
    }
}
