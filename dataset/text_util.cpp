// Small text helpers shared by the dataset library: fixed fields and case-blind keys.
#include "dataset/text_util.h"

#include <cctype>
#include <cstring>

#include "dataset/metadata.h"

std::string upper_text(const std::string& text) {
  std::string key = text;
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

void store_field(char* field, const std::string& text, int field_width) {
  std::size_t length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(field_width));
  std::memset(field, 0, static_cast<std::size_t>(field_width));
  std::memcpy(field, text.data(), length);
}

std::size_t utf8_prefix_length(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  auto continuation = [&text](std::size_t at) {
    return (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
  };
  if (!continuation(limit)) return limit;  // the cut falls between two characters
  // Back over the continuation bytes (a character has at most three) to the lead byte.
  std::size_t start = limit;
  while (start > 0 && limit - start < 3 && continuation(start)) --start;
  const bool lead = static_cast<unsigned char>(text[start]) >= 0xC0;
  return lead ? start : limit;
}

std::string field_text(const char* field, int field_width) {
  return std::string(field, strnlen(field, static_cast<std::size_t>(field_width)));
}
