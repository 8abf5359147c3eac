// The body of the impute program, which run_procedure calls.
#pragma once

void run_impute(int argc, char** argv);
