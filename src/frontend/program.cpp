#include "frontend/program.h"

namespace varkon {

namespace {

// The running program: chosen once, at start-up.
const Program* running = nullptr;

}  // namespace

const Program& program() { return *running; }

void set_program(const Program& p) { running = &p; }

}  // namespace varkon
