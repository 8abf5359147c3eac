// The body of the poolfit program, which run_procedure calls.
#pragma once

void run_poolfit(int argc, char** argv);
