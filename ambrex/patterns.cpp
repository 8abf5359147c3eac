// Finding tags and attributes in the XML text with POSIX regular expressions.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "ambrex/runner.h"
#include "runtime/frame.h"

namespace ambrex {
namespace {

// Longest text of a compile error that is shown.
constexpr std::size_t max_regex_message = 255;

// Group 1 is the element's word, group 2 its attribute text.
constexpr const char* platform_pattern = "<(R|sas|spss|stata|ambrel)([^>]*)>[[:space:]]*";
constexpr const char* procedure_pattern =
    "<(bootdesign|combine|describe|getdata|impute|emitdata|regress|sasmod|search|synthesize)([^>]*)>[[:space:"
    "]]*";
// Group 1 is the attribute's value.
constexpr const char* name_pattern = "name=\"([^\"]*)\"";
constexpr const char* dataout_pattern = "dataout=\"([^\"]+)\"";
constexpr const char* dir_pattern = "dir=\"([^\"]*)\"";
constexpr const char* impl_pattern = "impl=\"([[:digit:]]+|all|con[[:alpha:]]*)\"";
constexpr const char* mode_pattern = "mode=\"(batch|debug|test)\"";
constexpr const char* mult_pattern = "mult=\"([[:digit:]]+|all|con[[:alpha:]]*)\"";
constexpr const char* empty_pattern = "[[:space:]]*/[[:space:]]*$";
// The beginning of a procedure start tag, to tell one that is not closed by ">".
constexpr const char* procedure_word_pattern =
    "<(bootdesign|combine|describe|getdata|impute|emitdata|regress|sasmod|search|synthesize)([[:space:]/]|$)";

bool is_blank(char c) { return static_cast<unsigned char>(c) <= 32; }

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string lowercased(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The end of a match that ends in "[[:space:]]*": past every white space character from `end`.
std::size_t past_space(std::string_view text, std::size_t end) {
  while (end < text.size() && is_space(text[end])) ++end;
  return end;
}

}  // namespace

Pattern::Pattern(const char* text, bool with_groups) {
  const int flags = REG_EXTENDED | REG_ICASE | (with_groups ? 0 : REG_NOSUB);
  const int failed = regcomp(&compiled_, text, flags);
  if (failed != 0) {
    char message[max_regex_message + 1];
    regerror(failed, &compiled_, message, sizeof message);
    error_exit(message);
  }
}

Pattern::~Pattern() { regfree(&compiled_); }

bool Pattern::search(const char* text, std::size_t begin, std::size_t end, regmatch_t* groups,
                     std::size_t count) const {
  regmatch_t region[1];
  if (count == 0) {
    groups = region;
    count = 1;
  }
  groups[0].rm_so = static_cast<regoff_t>(begin);
  groups[0].rm_eo = static_cast<regoff_t>(end);
  return regexec(&compiled_, text, count, groups, REG_STARTEND) == 0;
}

TagPatterns::TagPatterns()
    : platform_(platform_pattern, true),
      procedure_(procedure_pattern, true),
      name_(name_pattern, true),
      dataout_(dataout_pattern, true),
      dir_(dir_pattern, true),
      impl_(impl_pattern, true),
      mode_(mode_pattern, true),
      mult_(mult_pattern, true),
      empty_(empty_pattern, false),
      procedure_word_(procedure_word_pattern, true) {}

// A start tag ends with ">", so the search stops after the last ">" of the text: every place
// where a tag's word begins then reaches a ">" at once, and a long text without ">" is never
// scanned from each of its places. The white space after the tag is taken afterwards.
bool TagPatterns::start_tag(const Pattern& pattern, std::string_view text, std::size_t begin,
                            TagMatch& match) const {
  const std::size_t last_close = text.rfind('>');
  if (last_close == std::string_view::npos || last_close < begin) return false;
  regmatch_t groups[3];
  if (!pattern.search(text.data(), begin, last_close + 1, groups, 3)) return false;
  const auto word_start = static_cast<std::size_t>(groups[1].rm_so);
  const auto word_end = static_cast<std::size_t>(groups[1].rm_eo);
  match.start = static_cast<std::size_t>(groups[0].rm_so);
  match.end = past_space(text, static_cast<std::size_t>(groups[0].rm_eo));
  match.word = lowercased(text.substr(word_start, word_end - word_start));
  // The blank that separates the word from the attributes is not part of them.
  match.attributes = static_cast<std::size_t>(groups[2].rm_so);
  match.attributes_end = static_cast<std::size_t>(groups[2].rm_eo);
  if (match.attributes < match.attributes_end && is_blank(text[match.attributes])) ++match.attributes;
  return true;
}

bool TagPatterns::platform_tag(std::string_view text, std::size_t begin, TagMatch& match) const {
  return start_tag(platform_, text, begin, match);
}

bool TagPatterns::procedure_tag(std::string_view text, std::size_t begin, TagMatch& match) const {
  return start_tag(procedure_, text, begin, match);
}

// A match counts only where an attribute begins: at the start of the text or after a blank,
// and outside every quoted value (an even number of quotes before it).
std::string TagPatterns::attribute(const Pattern& pattern, std::string_view attributes) {
  std::size_t from = 0;
  std::size_t counted = 0;
  std::size_t quotes = 0;
  regmatch_t groups[2];
  while (from < attributes.size() && pattern.search(attributes.data(), from, attributes.size(), groups, 2)) {
    const auto start = static_cast<std::size_t>(groups[0].rm_so);
    quotes +=
        static_cast<std::size_t>(std::count(attributes.begin() + static_cast<std::ptrdiff_t>(counted),
                                            attributes.begin() + static_cast<std::ptrdiff_t>(start), '"'));
    counted = start;
    if ((start == 0 || is_blank(attributes[start - 1])) && quotes % 2 == 0) {
      const auto value = static_cast<std::size_t>(groups[1].rm_so);
      return std::string(attributes.substr(value, static_cast<std::size_t>(groups[1].rm_eo) - value));
    }
    from = start + 1;
  }
  return {};
}

// Only the last "/" of the text can be the one the pattern needs, so the search starts there
// (a text of many blanks is never scanned from each of them).
bool TagPatterns::empty_element(std::string_view attributes) const {
  const std::size_t slash = attributes.rfind('/');
  if (slash == std::string_view::npos) return false;
  return empty_.search(attributes.data(), slash, attributes.size(), nullptr, 0);
}

std::string TagPatterns::unfinished_procedure_tag(std::string_view text, std::size_t begin) const {
  regmatch_t groups[2];
  if (begin >= text.size() || !procedure_word_.search(text.data(), begin, text.size(), groups, 2)) return {};
  const auto word = static_cast<std::size_t>(groups[1].rm_so);
  return lowercased(text.substr(word, static_cast<std::size_t>(groups[1].rm_eo) - word));
}

bool find_closing_tag(std::string_view text, std::size_t begin, const std::string& word, std::size_t& start,
                      std::size_t& end) {
  const std::string pattern_text = "</" + word + ">[[:space:]]*";
  const Pattern closing(pattern_text.c_str(), true);
  regmatch_t groups[1];
  if (!closing.search(text.data(), begin, text.size(), groups, 1)) return false;
  start = static_cast<std::size_t>(groups[0].rm_so);
  end = static_cast<std::size_t>(groups[0].rm_eo);
  return true;
}

}  // namespace ambrex
