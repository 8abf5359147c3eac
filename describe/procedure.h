// The body of the describe program, which run_procedure calls.
#pragma once

void run_describe(int argc, char** argv);
