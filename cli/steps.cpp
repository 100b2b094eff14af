#include "steps.h"

#include "output.h"
#include "terminal.h"

namespace quaymap_cli {

using quaymap::CommandResult;

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
    case Command::keep:
        return "keep";
    case Command::forget:
        return "forget";
    default:
        return "";
    }
}

int run_steps(quaymap::Engine& engine, const Options& options, const quaymap::SearchOutcome& router,
              const KeepTime& time) {
    const bool adding = options.command == Command::add;
    const bool keep = adding && options.keep;
    // From before the first add: a stop during an add or its lookup would leave the mapping
    // behind for good.
    if (keep)
        hold_stop_signals();
    std::vector<Step> steps;
    std::vector<quaymap::Kept> kept;
    int status = 0;
    for (const std::string& protocol : options.protocols) {
        if (keep && time.stop_pending())
            break;
        Step step;
        step.protocol = protocol;
        step.external_port = options.external_port;
        if (adding) {
            quaymap::Kept mapping;
            mapping.request = {options.name, options.external_port, options.internal_port,
                               protocol,     options.address,       options.lease};
            mapping.request.keep = keep;
            mapping.request.keep_file = keep ? "quaymap-cli add --keep" : "";
            mapping.owned = true;
            step.result = engine.add(mapping.request);
            mapping.granted = step.result.row;
            if (step.result.ok())
                kept.push_back(mapping);
        } else {
            // A NAT-PMP mapping is named by this computer's port; a UPnP one by the router's.
            const std::string port = std::to_string(options.external_port);
            step.result = engine.remove({"", protocol, port, "", port, ""});
        }
        if (!step.result.ok()) {
            complain(std::to_string(step.external_port) + "/" + protocol + ": " +
                     step.result.message);
            if (status == 0)
                status = quaymap::exit_status(step.result.verdict);
        } else if (!options.json) {
            print(step_text(adding, step));
        }
        steps.push_back(step);
    }
    if (options.json)
        print(steps_json(command_name(options.command), router, steps));
    if (!keep)
        return status;
    // Kept mappings come as a whole: the half of "both" that the router took goes again when it
    // refused the other. A stop that came meanwhile ends the keep at once.
    quaymap::Keeper keeper(engine, time.keeper, keep_options(time, true), {complain, {}, {}});
    keeper.hold(kept);
    if (status != 0) {
        keeper.release();
        return status;
    }
    return keep_mappings(keeper, engine, time);
}

} // namespace quaymap_cli
