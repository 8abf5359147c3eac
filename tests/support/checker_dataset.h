// The small standard dataset that the checker's tests and its fuzz target run setups against.
#pragma once

namespace testsupport {

// Variables, in order: id age sex inc reg w y st cl a b c d _MULT_ MULT_ x. sex has the numeric
// codeframe sexf (1 Male, 2 Female), reg the character frame regf (N North, S South).
inline constexpr const char* checker_dataset_metadata =
    "standard;\n"
    "variables;\n"
    "  name=id width=4 label='Case id';\n"
    "  name=age width=3;\n"
    "  name=sex code=sexf width=1;\n"
    "  name=inc width=8 label=Income;\n"
    "  name=reg type=char code=regf width=4;\n"
    "  name=w type=num width=6;\n"
    "  name=y;\n"
    "  name=st;\n"
    "  name=cl;\n"
    "  name=a;\n"
    "  name=b;\n"
    "  name=c;\n"
    "  name=d;\n"
    "  name=_MULT_;\n"
    "  name=MULT_;\n"
    "  name=x;\n"
    "codeframes;\n"
    "  name=sexf 1=Male 2=Female;\n"
    "  name=regf N=North S=South;\n";

}  // namespace testsupport
