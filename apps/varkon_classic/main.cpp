#include "apps/programs.h"

int main() { varkon::start_program(varkon::classic_program()); }
