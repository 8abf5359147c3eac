// The body of the seekset program, which run_procedure calls.
#pragma once

void run_seekset(int argc, char** argv);
