#include "frontend/program.h"

#include "search/request.h"

namespace varkon {

namespace {

// The running program, chosen once at start-up, and the protocol in charge.
struct Running {
    const Program* program = nullptr;
    const SearchOutput* output = &silent_search_output;
};
Running running;

}  // namespace

const Program& program() { return *running.program; }

void set_program(const Program& p) { running.program = &p; }

void set_protocol_output(const SearchOutput& out) { running.output = &out; }

const SearchOutput& protocol_output() { return *running.output; }

}  // namespace varkon
