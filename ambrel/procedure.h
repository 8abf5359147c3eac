// The body of the ambrel program, which run_procedure calls.
#pragma once

void run_ambrel(int argc, char** argv);
