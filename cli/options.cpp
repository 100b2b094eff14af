#include "options.h"

#include "explain.h"
#include "rules.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>

namespace quaymap_cli {

const char* const kUsage =
    "Usage: quaymap-cli [--json] [--router URL|ADDRESS] [--verbose] COMMAND\n"
    "\n"
    "Commands:\n"
    "  status                       the router, its public address and whether it is public,\n"
    "                               and any other router found\n"
    "  list                         the router's port mappings\n"
    "  add NAME PORT[:INTERNAL_PORT] tcp|udp|both [ADDRESS] [--lease SECONDS] [--keep]\n"
    "                               forward PORT to ADDRESS (default: this computer)\n"
    "  delete PORT tcp|udp|both     remove the mapping of PORT\n"
    "  keep [--check] FILE          keep the mappings of FILE open (one a line, as the\n"
    "                               arguments of add); SIGHUP reads it again; SIGTERM or\n"
    "                               SIGINT deletes them and ends; --check only reads FILE\n"
    "  forget PORT tcp|udp|both     drop PORT from QuayMap's record, leaving the router\n"
    "\n"
    "Options:\n"
    "  --json          one JSON document on standard output\n"
    "  --router URL    use this device description URL instead of searching\n"
    "  --router ADDRESS  use the router found at this address\n"
    "  --lease SECONDS the mapping's lease (default: the longest the router allows)\n"
    "  --keep          with add: renew the mapping until interrupted, then delete it\n"
    "  --verbose       the search's and the client's diagnostics on standard error\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 done, 1 the router refused, 2 usage, 3 no router found,\n"
    "4 the router did not answer, 5 the router did not list every mapping.\n";

namespace {

bool whole_number(const std::string& text, long long max, long long& value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::atoll(text.c_str());
    return value <= max;
}

bool protocols_of(std::string text, std::vector<std::string>& protocols) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (text == "BOTH")
        protocols = {"TCP", "UDP"};
    else if (text == "TCP" || text == "UDP")
        protocols = {text};
    else
        return false;
    return true;
}

} // namespace

bool parse_options(const std::vector<std::string>& arguments, Options& options,
                   std::string& error) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool has_value = i + 1 < arguments.size();
        if (a == "--json") {
            options.json = true;
        } else if (a == "--verbose" || a == "-v") {
            options.verbose = true;
        } else if (a == "--keep") {
            options.keep = true;
        } else if (a == "--check") {
            options.check = true;
        } else if (a == "--help" || a == "-h") {
            options.command = Command::help;
            return true;
        } else if (a == "--version") {
            options.command = Command::version;
            return true;
        } else if (a == "--router" && has_value) {
            const std::string& router = arguments[++i];
            in6_addr address{};
            if (router.find("://") != std::string::npos) {
                options.router_url = router;
            } else if (inet_pton(AF_INET, router.c_str(), &address) == 1 ||
                       inet_pton(AF_INET6, router.c_str(), &address) == 1) {
                options.router_address = router;
            } else {
                error = "--router takes a description URL (http://...) or a router's address, "
                        "not " +
                        router;
                return false;
            }
        } else if (a == "--lease" && has_value) {
            long long lease = 0;
            if (!whole_number(arguments[++i], 0xFFFFFFFFLL, lease)) {
                error = "--lease takes a number of seconds";
                return false;
            }
            options.lease = lease;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option or missing value: " + a;
            return false;
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) {
        error = "a command is missing";
        return false;
    }
    const std::string& command = words[0];
    const std::size_t count = words.size() - 1;
    if (command == "status" || command == "list") {
        options.command = command == "status" ? Command::status : Command::list;
        if (count != 0) {
            error = command + " takes no arguments";
            return false;
        }
    } else if (command == "add") {
        options.command = Command::add;
        if (count != 3 && count != 4) {
            error = "add takes NAME PORT[:INTERNAL_PORT] tcp|udp|both [ADDRESS]";
            return false;
        }
        options.name = words[1];
        const std::string& ports = words[2];
        const std::size_t colon = ports.find(':');
        if (!quaymap::port_of(ports.substr(0, colon), options.external_port) ||
            (colon != std::string::npos &&
             !quaymap::port_of(ports.substr(colon + 1), options.internal_port))) {
            error = "not a port (1-65535): " + ports;
            return false;
        }
        if (!protocols_of(words[3], options.protocols)) {
            error = "the protocol is tcp, udp or both, not " + words[3];
            return false;
        }
        if (count == 4)
            options.address = words[4];
        // The engine's own rules, as it will check the request again.
        error = quaymap::add_problem({options.name, options.external_port, options.internal_port,
                                      options.protocols[0], options.address, options.lease});
        if (!error.empty())
            return false;
    } else if (command == "delete" || command == "forget") {
        options.command = command == "delete" ? Command::remove : Command::forget;
        if (count != 2 || !quaymap::port_of(words[1], options.external_port) ||
            !protocols_of(words[2], options.protocols)) {
            error = command + " takes PORT tcp|udp|both";
            return false;
        }
    } else if (command == "keep") {
        options.command = Command::keep;
        if (count != 1) {
            error = "keep takes FILE";
            return false;
        }
        options.keep_file = words[1];
    } else {
        error = "unknown command: " + command;
        return false;
    }
    if ((options.keep || options.lease >= 0) && options.command != Command::add) {
        error = "--keep and --lease go with add";
        return false;
    }
    if (options.check && options.command != Command::keep) {
        error = "--check goes with keep";
        return false;
    }
    if (options.json && (options.command == Command::keep || options.command == Command::forget)) {
        error = "--json goes with status, list, add and delete";
        return false;
    }
    return true;
}

} // namespace quaymap_cli
