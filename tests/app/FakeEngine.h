// A scripted engine for the window's tests: it answers as told, records each call, and holds a
// call at its gate until the test lets it pass. No network at all.
#pragma once

#include "Engine.h"

#include <condition_variable>
#include <map>
#include <mutex>

// Set while no call runs. Results are "done" unless given; a granted add or renewal returns the
// mapping asked for, with the lease of the scripted result's row.
struct Script {
    quaymap::SearchOutcome outcome;
    std::vector<MappingRecord> rows;
    std::map<std::string, quaymap::CommandResult> results; // by call: "add", "list", ...

    quaymap::CommandResult result(const std::string& call, const MappingRecord* asked = nullptr) {
        quaymap::CommandResult answer = results[call];
        if (asked && answer.ok())
            answer.row = {asked->description,     asked->protocol,      asked->external_port,
                          asked->internal_client, asked->internal_port, answer.row.lease_duration};
        return answer;
    }
};

struct FakeEngine : quaymap::Engine, Script {
    using Result = quaymap::CommandResult;
    // A held gate ("search", "add", ..., "row" before each listed row) lets one call pass for
    // each pass().
    void hold(const std::string& gate) {
        locked([&] { gates[gate] = 0; });
    }
    void pass(const std::string& gate) {
        locked([&] { ++gates[gate]; });
    }
    void openAll() {
        locked([&] { gates.clear(); });
    }
    // E.g. "search", "add web 8080 TCP 192.168.1.20", "remove 8080 TCP".
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return made;
    }

    quaymap::SearchOutcome search(const quaymap::SearchOptions&) override {
        return enter("search", "search").outcome;
    }
    Result list(const quaymap::RowSink& sink) override {
        Script script = enter("list", "list");
        for (const MappingRecord& row : script.rows)
            enter("row", {}), sink(row);
        return script.result("list");
    }
    Result add(const quaymap::AddRequest& r) override {
        const std::string port = std::to_string(r.external_port);
        const MappingRecord asked{r.name, r.protocol, port, r.internal_client, port, {}};
        return enter("add",
                     "add " + r.name + " " + port + " " + r.protocol + " " + r.internal_client)
            .result("add", &asked);
    }
    Result remove(const MappingRecord& row) override {
        return enter("remove", "remove " + row.external_port + " " + row.protocol).result("remove");
    }
    Result public_address() override {
        return enter("public_address", "public_address").result("public_address");
    }
    Result renew(const MappingRecord& row) override {
        return enter("renew", "renew " + row.external_port + " " + row.protocol)
            .result("renew", &row);
    }

  private:
    template <typename F> void locked(F change) {
        std::lock_guard<std::mutex> lock(mutex);
        change();
        changed.notify_all();
    }
    // Records the call, waits at its gate, and hands out the script as it is then.
    Script enter(const std::string& gate, const std::string& call) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!call.empty())
            made.push_back(call);
        changed.wait(lock, [&] { return !gates.count(gate) || gates[gate] > 0; });
        if (gates.count(gate))
            --gates[gate];
        return *this;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, int> gates;
    std::vector<std::string> made;
};
