// The body of the stagedata program, which run_procedure calls.
#pragma once

#include <cstdint>

void run_stagedata(int argc, char** argv);
