// Small text helpers shared by the dataset library.
#pragma once

#include <string>

// Upper-cased copy of `text` (ASCII letters only), used as a case-blind lookup key.
std::string upper_text(const std::string& text);
