// The body of the emitdata program, which run_procedure calls.
#pragma once

void run_emitdata(int argc, char** argv);
