// The two programs of the engine, as the library sees them.
#pragma once

#include "frontend/init.h"

namespace varkon {

const Program& varkon_program();
const Program& classic_program();

}  // namespace varkon
