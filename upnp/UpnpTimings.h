#pragma once

// Every time limit of the client, in milliseconds. The defaults are the values a real
// router is given; tests shorten them so that no test sits out a real pause.
struct UpnpTimings {
    int connect_timeout_ms = 1000; // one TCP connection attempt gives up after this
    int connect_pause_ms = 1000;   // pause before each further connection attempt
    int read_wait_ms = 1000;       // one receive attempt waits this long for data
    int ssdp_wait_ms = 5000;       // one discovery pass waits this long for an answer
    int ssdp_idle_ms = 1000;       // extra wait after a discovery pass that got nothing
};
