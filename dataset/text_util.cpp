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

std::string field_text(const char* field, int field_width) {
  return std::string(field, strnlen(field, static_cast<std::size_t>(field_width)));
}
