#include "RouterEngine.h"
#include "explain.h"

namespace quaymap {

namespace {

const char* const kNoRouter = "No router has been found.";

} // namespace

CommandResult RouterEngine::list(const RowSink& row) {
    const std::shared_ptr<Gateway> router = gateway();
    return router ? router->list(row) : CommandResult();
}

CommandResult RouterEngine::add(const AddRequest& request) {
    const std::string problem = add_problem(request);
    if (!problem.empty())
        return invalid(problem);
    const std::shared_ptr<Gateway> router = gateway();
    if (!router)
        return invalid(kNoRouter);
    const std::string here = this_computer();
    const std::string& client = request.internal_client;
    if (!router->abilities().maps_for_others && !client.empty() && client != here)
        return invalid(std::string("A ") + kind_words(router->kind()) +
                       " router forwards ports only to the computer that asks (" + here +
                       "), not to " + client + ".");
    const AddRequest asked = completed(request, here);
    const CommandResult result = router->add(asked);
    if (result.ok())
        note_made(*router, result.row, &asked);
    return result;
}

CommandResult RouterEngine::remove(const Mapping& row) {
    uint16_t port = 0;
    if (!port_of(row.external_port, port))
        return invalid("The router listed an invalid port (\"" + row.external_port +
                       "\"), so this mapping cannot be deleted by its port.");
    const std::shared_ptr<Gateway> router = gateway();
    if (!router)
        return invalid(kNoRouter);
    Mapping asked = row;
    asked.protocol = protocol_name(row.protocol);
    const CommandResult result = router->remove(asked);
    if (result.ok())
        note_deleted(*router, asked);
    return result;
}

CommandResult RouterEngine::public_address() {
    const std::shared_ptr<Gateway> router = gateway();
    return router ? router->public_address() : invalid(kNoRouter);
}

CommandResult RouterEngine::check(const Mapping& row) {
    uint16_t port = 0;
    if (!port_of(row.external_port, port))
        return invalid("The mapping names no valid port, so it cannot be checked.");
    const std::shared_ptr<Gateway> router = gateway();
    if (!router)
        return invalid(kNoRouter);
    Mapping asked = row;
    asked.protocol = protocol_name(row.protocol);
    return router->check(asked);
}

int RouterEngine::announcements() {
    const std::shared_ptr<Gateway> router = gateway();
    return router ? router->announcements() : -1;
}

bool RouterEngine::restarted(std::string& why) {
    const std::shared_ptr<Gateway> router = gateway();
    return router && router->restarted(why);
}

CommandResult RouterEngine::renew(const Mapping& row) {
    uint16_t external = 0, internal = 0;
    if (!port_of(row.external_port, external) || !port_of(row.internal_port, internal))
        return invalid("The mapping names no valid port, so it cannot be renewed.");
    const std::shared_ptr<Gateway> router = gateway();
    if (!router)
        return invalid(kNoRouter);
    const CommandResult result = router->renew(row);
    if (result.ok())
        note_made(*router, result.row, nullptr);
    return result;
}

} // namespace quaymap
