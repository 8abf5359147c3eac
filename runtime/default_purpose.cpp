// The empty default of program_purpose. It is alone in its file so that the linker takes it
// from the library only when the program defines no purpose of its own.
#include "runtime/frame.h"

const char program_purpose[] = "";
