// The two programs of the engine, as the library sees them.
#pragma once

#include "frontend/program.h"

namespace varkon {

const Program& varkon_program();
const Program& classic_program();

}  // namespace varkon
