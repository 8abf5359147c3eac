// The body of the bootdesign program, which run_procedure calls.
#pragma once

void run_bootdesign(int argc, char** argv);
