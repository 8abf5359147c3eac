// Small text helpers shared by the dataset library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Upper-cased copy of `text` (ASCII letters only), used as a case-blind lookup key.
std::string upper_text(const std::string& text);

// Length of the longest beginning of `text` of at most `limit` bytes that does not stop inside a
// UTF-8 character, so that a name cut to a field's width keeps only whole characters. Bytes that
// do not form UTF-8 (a single-byte code page) are cut at `limit` as they are.
std::size_t utf8_prefix_length(std::string_view text, std::size_t limit);
