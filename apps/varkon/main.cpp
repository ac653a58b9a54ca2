#include "apps/programs.h"
#include "frontend/startup.h"

int main() { varkon::start_program(varkon::varkon_program()); }
