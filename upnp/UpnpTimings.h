#pragma once

// Every time limit of the client, in milliseconds. The defaults are the values a real
// router is given; tests shorten them so that no test sits out a real pause.
struct UpnpTimings {
    int connect_timeout_ms = 1000;      // one TCP connection attempt gives up after this
    int connect_pause_ms = 1000;        // pause before each further connection attempt
    int connect_budget_ms = 9000;       // all attempts of one tcp_connect together
    int read_wait_ms = 1000;            // one receive attempt waits this long for data
    int ssdp_repeat_ms = 1000;          // the search burst goes out again after this
    int ssdp_window_ms = 4500;          // answers are awaited this long after the first burst
    int description_deadline_ms = 5000; // the whole description fetch of one candidate
    // With an IGD in hand that is not the default gateway's, the gateway's own is awaited this
    // long; with the gateway's own in hand, descriptions already on their way get this long.
    int ssdp_choice_ms = 1000;
    int ssdp_others_ms = 100;
    int search_limit_ms = 5800; // the whole discovery, descriptions included
};
