// The body of the tesset program, which run_procedure calls.
#pragma once

void run_tesset(int argc, char** argv);
