// quaymap-cli: the engine of the QuayMap window, as a command for machines without a desktop.
// Data goes to standard output, messages to standard error.
#include "EngineSettings.h"
#include "explain.h"
#include "keep.h"
#include "keep_file.h"
#include "log.h"
#include "options.h"
#include "output.h"
#include "record.h"
#include "steps.h"
#include "terminal.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace quaymap_cli;
using quaymap::CommandResult;

namespace {

// Drops entries of the record without touching the router: a mapping QuayMap made that is gone
// for good, or that it should no longer keep.
int forget(const Options& options) {
    const quaymap::Record record(quaymap::default_record_folder(), complain);
    if (!record.enabled()) {
        complain("quaymap-cli: no folder for QuayMap's record (HOME is not set)");
        return quaymap::kExitUsage;
    }
    std::vector<quaymap::RecordEntry> forgotten;
    const bool written = record.change([&](std::vector<quaymap::RecordEntry>& entries) {
        for (auto it = entries.begin(); it != entries.end();) {
            const bool asked = it->external_port == options.external_port &&
                               std::find(options.protocols.begin(), options.protocols.end(),
                                         it->transport) != options.protocols.end();
            if (asked) {
                forgotten.push_back(*it);
                it = entries.erase(it);
            } else {
                ++it;
            }
        }
    });
    for (const quaymap::RecordEntry& e : forgotten)
        print("forgot " + std::to_string(e.external_port) + "/" + e.transport + " (" +
              terminal_text(e.name) + ", on " + terminal_text(e.router) + ")\n");
    if (forgotten.empty())
        complain("The record holds no mapping of port " + std::to_string(options.external_port) +
                 ".");
    return written ? 0 : quaymap::kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parse_options(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        if (options.json)
            print(failure_json(command_name(options.command), "usage", error));
        complain("quaymap-cli: " + error);
        complain("Try 'quaymap-cli --help'.");
        return quaymap::kExitUsage;
    }
    if (options.command == Command::help) {
        print(kUsage);
        return 0;
    }
    if (options.command == Command::version) {
        print("quaymap-cli " QUAYMAP_VERSION "\n");
        return 0;
    }
    if (options.command == Command::forget)
        return forget(options);
    // A keep file is read whole before any router is asked for anything.
    if (options.command == Command::keep) {
        std::vector<quaymap::Kept> kept;
        if (!read_keep_file(options.keep_file, kept, error)) {
            complain("quaymap-cli: " + error);
            return quaymap::kExitUsage;
        }
        if (options.check) {
            print(options.keep_file + ": " + std::to_string(kept.size()) +
                  (kept.size() == 1 ? " mapping\n" : " mappings\n"));
            return 0;
        }
    }
    // The protocol diagnostics of the window program are noise here unless asked for.
    set_log_echo(options.verbose);
    quaymap::EngineSettings settings;
    settings.record_folder = quaymap::default_record_folder();
    settings.notice = complain;
    // The trace holds the router's answers as they came.
    settings.console = options.verbose ? escaping_stream(stderr) : nullptr;
    settings.description_url = options.router_url;
    settings.router_address = options.router_address;
    const bool keeping = options.keep || options.command == Command::keep;
    // Only a keep needs the signals, the clock and the chance.
    const KeepTime time = keeping ? signal_time(options.command == Command::keep) : KeepTime();
    if (keeping) {
        // From the start: a stop before the first add is one with nothing to delete.
        hold_stop_signals();
        settings.stop_requested = time.stop_pending;
    }
    const std::unique_ptr<quaymap::Engine> made = quaymap::make_engine(settings);
    quaymap::Engine& engine = *made;
    quaymap::SearchOptions search;
    search.read_public_address = options.command == Command::status;
    const quaymap::SearchOutcome router = engine.search(search);
    // A keep waits for its router: it may be on its way.
    if (options.command == Command::keep)
        return keep_file(engine, router, options.keep_file, time);
    if (router.kind == quaymap::RouterKind::none) {
        if (options.json)
            print(failure_json(command_name(options.command), "no_router", router.reason));
        complain("quaymap-cli: no router found. " + router.reason);
        return quaymap::kExitNoRouter;
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
        std::vector<quaymap::Mapping> rows;
        // Room for a large home router's table at once: untouched memory costs nothing, and
        // no row is copied again as the list grows.
        rows.reserve(512);
        const CommandResult result =
            engine.list([&rows](const quaymap::Mapping& row) { rows.push_back(row); });
        const std::vector<std::string> marks = quaymap::record_marks(engine.recorded(), rows);
        print(options.json ? list_json(router, rows, result, marks) : list_text(rows, marks));
        if (!result.ok())
            complain(result.message);
        else if (result.rows_cut)
            complain("The router lists more mappings than are read; the list is cut.");
        if (!result.unread.empty())
            complain(quaymap::unread_text(result.unread));
        return result.ok() && !result.complete() ? quaymap::kExitIncomplete
                                                 : quaymap::exit_status(result.verdict);
    }
    case Command::add:
    case Command::remove:
        return run_steps(engine, options, router, time);
    default:
        return quaymap::kExitUsage;
    }
}
