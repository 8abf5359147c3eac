// Highlighting of setup text: statement keywords, comments and quoted values.
#include <algorithm>
#include <array>
#include <cctype>

#include "setupshell/shell.h"

namespace setupshell {
namespace {

// The commands of master setups and the statement keywords of the procedures' setups, in
// lower case and sorted for the binary search.
constexpr auto keywords = std::to_array<std::string_view>({
    "abb",        "bootdesign", "bounds",     "by",         "categorical", "censor",     "class",
    "cluster",    "combine",    "contrast",   "continuous", "count",       "datain",     "dataout",
    "default",    "dependent",  "describe",   "diagnose",   "drop",        "emitdata",   "estimates",
    "estout",     "getdata",    "gh",         "id",         "implicates",  "impute",     "interact",
    "iterations", "libname",    "link",       "maxlogi",    "maxpred",     "mdata",      "mean",
    "mincodi",    "minrsqd",    "mixed",      "model",      "multiples",   "nobs",       "offsets",
    "perturb",    "predictor",  "predout",    "print",      "proc",        "regress",    "repout",
    "restrict",   "run",        "sasmod",     "search",     "seed",        "sortout",    "stratum",
    "synthesize", "table",      "title",      "transfer",   "variable",    "weight",     "csamples",
    "wsamples",   "popsize",    "strat",      "clust",      "stand",       "skip",       "type",
    "label",      "code",       "var"});

constexpr auto sorted_keywords = [] {
  auto sorted = keywords;
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}();

bool is_word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Marks from `from` up to and including the closing `close` text (or to the end) with `style`;
// returns the position after it.
std::size_t mark_until(std::string& styles, std::string_view text, std::size_t from, std::string_view close,
                       char style) {
  const std::size_t found = text.find(close, from);
  const std::size_t end = found == std::string_view::npos ? text.size() : found + close.size();
  std::fill(styles.begin() + static_cast<std::ptrdiff_t>(from), styles.begin() + static_cast<std::ptrdiff_t>(end),
            style);
  return end;
}

}  // namespace

bool is_keyword(std::string_view word) {
  if (word.empty() || word.size() > 16) return false;
  std::string lower(word);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::binary_search(sorted_keywords.begin(), sorted_keywords.end(), std::string_view(lower));
}

std::string highlight_styles(std::string_view text) {
  std::string styles(text.size(), plain_style);
  bool statement_start = true;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (text.substr(i, 2) == "/*") {
      i = mark_until(styles, text, i, "*/", comment_style);
    } else if (c == '"' || c == '\'') {
      statement_start = false;
      styles[i] = quoted_style;
      i = mark_until(styles, text, i + 1, text.substr(i, 1), quoted_style);
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == ';') {
      statement_start = true;
      ++i;
    } else if (statement_start && c == '*') {
      i = mark_until(styles, text, i, ";", comment_style);
    } else if (statement_start) {
      statement_start = false;
      // A command of a master setup may carry a leading "%".
      const std::size_t word_start = c == '%' ? i + 1 : i;
      std::size_t end = word_start;
      while (end < text.size() && is_word_char(text[end])) ++end;
      if (is_keyword(text.substr(word_start, end - word_start))) {
        std::fill(styles.begin() + static_cast<std::ptrdiff_t>(i), styles.begin() + static_cast<std::ptrdiff_t>(end),
                  keyword_style);
      }
      i = std::max(end, i + 1);
    } else {
      ++i;
    }
  }
  return styles;
}

}  // namespace setupshell
