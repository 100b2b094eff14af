#include "args.h"

#include <cstdio>
#include <cstdlib>

void usage() {
    std::fprintf(
        stderr,
        "usage: upnp_lab_bench listing --mode igd|igd2 --desc-url URL --expect N --cli PATH\n"
        "                              [--app PATH] [--runs R] [--upnpc PATH]\n"
        "       upnp_lab_bench known-url --mode igd|igd2 --desc-url URL --expect N --cli PATH\n"
        "                                [--runs R] [--upnpc PATH]\n"
        "       upnp_lab_bench pages --desc-url URL --expect N [--runs R]\n"
        "       upnp_lab_bench verdict --mode igd|natpmp|none --cli PATH [--app PATH] [--runs R]\n"
        "       upnp_lab_bench gone --lab PATH [--runs R]\n"
        "       upnp_lab_bench framing --desc-url URL --expect N --cli PATH --relay PATH\n"
        "                              [--runs R] [--upnpc PATH]\n"
        "       upnp_lab_bench survival --mode igd|igd2 --desc-url URL --expect N --cli PATH\n"
        "                               --router-pid FILE [--runs R] [--upnpc PATH]\n"
        "       upnp_lab_bench keeper --desc-url URL --cli PATH [--seconds S] [--upnpc PATH]\n"
        "       upnp_lab_bench summary FILE\n");
    std::exit(2);
}

Args parse_args(int argc, char** argv) {
    Args a;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            usage();
        const std::string value = argv[++i];
        std::string* text = arg == "--mode"         ? &a.mode
                            : arg == "--desc-url"   ? &a.desc_url
                            : arg == "--cli"        ? &a.cli
                            : arg == "--app"        ? &a.app
                            : arg == "--upnpc"      ? &a.upnpc
                            : arg == "--lab"        ? &a.lab
                            : arg == "--relay"      ? &a.relay
                            : arg == "--router-pid" ? &a.router_pid
                                                    : nullptr;
        if (text)
            *text = value;
        else if (arg == "--runs")
            a.runs = std::atoi(value.c_str());
        else if (arg == "--seconds")
            a.seconds = std::atoi(value.c_str());
        else if (arg == "--expect")
            a.expect = static_cast<size_t>(std::atol(value.c_str()));
        else
            usage();
    }
    if (a.runs < 1)
        usage();
    return a;
}
