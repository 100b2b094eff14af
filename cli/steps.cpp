#include "steps.h"

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
    int status = 0;
    for (const std::string& protocol : options.protocols) {
        if (keep && time.stop_pending())
            break;
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
    if (status != 0) {
        take_back(engine, steps);
        return status;
    }
    return keep_mappings(engine, steps, time);
}

} // namespace quaymap_cli
