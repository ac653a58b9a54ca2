// startup: the start of a program of the engine.
#pragma once

#include "frontend/program.h"

namespace varkon {

// Start-up: the interrupt signal, stream set-up, banner, start position, tables, random
// seed (and the program's own start-up steps); then the console loop. Never returns.
[[noreturn]] void start_program(const Program& p);

// Installs `p` as the running program and brings every module's state to its start-up
// values without starting the console (used by start_program and by tests).
void init_program(const Program& p);

}  // namespace varkon
