// The body of the getdata program, which run_procedure calls.
#pragma once

void run_getdata(int argc, char** argv);
