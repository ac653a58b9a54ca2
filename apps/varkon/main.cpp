#include "apps/programs.h"

int main() { varkon::start_program(varkon::varkon_program()); }
