// QuayMap against miniupnpd in the lab, each figure next to its peer taken in the same run:
//
//   listing    quaymap-cli list and the window (process start to the last table row) next to
//              `upnpc -l` and to the router's own floor
//   known-url  quaymap-cli --router URL list next to `upnpc -u URL -l`, wall and processor time
//   pages      on an IGD v2 router, the client's GetListOfPortMappings pages next to the index
//              walk, in process
//   verdict    how long quaymap-cli status and the window's search take to their outcome
//   gone       add, delete and public address on a router that vanished after it was found
//   framing    quaymap-cli --router URL list through lab_relay: chunked answers, connections
//              kept open
//   survival   a large table listed, then whether the router still runs and answers
//   keeper     what keeping three mappings open for ten minutes costs: quaymap-cli keep next
//              to a sleep loop of upnpc -a renewals
//   summary    the README's tables from the result lines the other steps printed
//
// Every step but summary talks to the router, so it refuses to run outside the lab's LAN
// namespace; bench/upnp/run_lab_bench.sh sets that up. Prints figures only; usage() in
// args.cpp.
#include "args.h"
#include "figures.h"
#include "lab_router.h"
#include "tables.h"

#include <cstdio>
#include <string>

namespace {

struct Step {
    const char* name;
    int (*run)(const Args&);
};
const Step kSteps[] = {{"listing", listing_step},   {"known-url", known_url_step},
                       {"pages", pages_step},       {"verdict", verdict_step},
                       {"gone", gone_step},         {"framing", framing_step},
                       {"survival", survival_step}, {"keeper", keeper_step}};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        usage();
    const std::string name = argv[1];
    if (name == "summary") {
        if (argc != 3)
            usage();
        return summary(argv[2]);
    }
    for (const Step& step : kSteps) {
        if (name != step.name)
            continue;
        const Args a = parse_args(argc, argv);
        if (!inside_lab_namespace()) {
            std::fprintf(stderr,
                         "lab bench: run me inside the lab (bench/upnp/run_lab_bench.sh)\n");
            return 2;
        }
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        std::printf("@load %.2f\n", load_average());
        const int status = step.run(a);
        std::printf("@load %.2f\n", load_average());
        return status;
    }
    usage();
}
