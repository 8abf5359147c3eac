// The body of the ambrex program, which run_procedure calls.
#pragma once

void run_ambrex(int argc, char** argv);
