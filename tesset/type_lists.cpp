// DEFAULT and the type lists (CONTINUOUS ... SYNTHESIZE, DIAGNOSE): each names variables and
// ORs its code into their flag words, refusing variables that another list already settled.
#include <cstring>
#include <strings.h>

#include "runtime/frame.h"
#include "tesset/statements.h"

namespace tesset {
namespace {

// One type list: its code, the DEFAULT code that makes the list pointless (0: none), and when a
// variable with a non-zero flag word is refused.
struct TypeList {
  const char* keyword;
  std::uint16_t code;
  int default_code;
  bool (*refused)(std::uint16_t flags, std::uint16_t code);
};

// Helpers of the refusal rules below: character or dropped, and the type code.
bool char_or_dropped(std::uint16_t f) { return (f & (FLAG_CHARACTER | FLAG_DROP)) != 0; }
int type_of(std::uint16_t f) { return f & FLAG_TYPE_MASK; }

bool refuse_continuous(std::uint16_t f, std::uint16_t) {
  int t = type_of(f);
  return char_or_dropped(f) || (t != TYPE_CONTINUOUS && t != TYPE_ABB_SETUP && t != TYPE_GH);
}
bool refuse_categorical(std::uint16_t f, std::uint16_t) {
  return (f & 0x3FF) != 0 && (f & 0x1F) != TYPE_CATEGORICAL;
}
bool refuse_mixed_or_count(std::uint16_t f, std::uint16_t code) {
  int t = type_of(f);
  return char_or_dropped(f) || (t != code && t != TYPE_ABB_SETUP);
}
bool refuse_abb(std::uint16_t f, std::uint16_t) {
  int t = type_of(f);
  return char_or_dropped(f) || (t != TYPE_CONTINUOUS && t != TYPE_MIXED && t != TYPE_COUNT && t != TYPE_ABB_SETUP);
}
bool refuse_gh(std::uint16_t f, std::uint16_t) {
  int t = type_of(f);
  return char_or_dropped(f) || (t != TYPE_GH && t != TYPE_CONTINUOUS);
}
bool refuse_drop(std::uint16_t f, std::uint16_t) { return (f & 0x3EF) != 0; }
bool refuse_transfer(std::uint16_t f, std::uint16_t) {
  return (f & (FLAG_DROP | FLAG_USED | FLAG_SYNTHESIZE | FLAG_DIAGNOSE | FLAG_DIAGNOSE_ALL)) != 0;
}
bool refuse_synthesize(std::uint16_t f, std::uint16_t) {
  return (f & (FLAG_DROP | FLAG_TRANSFER | FLAG_USED | FLAG_DIAGNOSE | FLAG_DIAGNOSE_ALL)) != 0;
}
bool refuse_diagnose(std::uint16_t f, std::uint16_t) { return (f & 0xF0) != 0; }

// Every type list with its refusal rule.
const TypeList type_lists[] = {
    {"CONTINUOUS", TYPE_CONTINUOUS, TYPE_CONTINUOUS, refuse_continuous},
    {"CATEGORICAL", TYPE_CATEGORICAL, TYPE_CATEGORICAL, refuse_categorical},
    {"MIXED", TYPE_MIXED, TYPE_MIXED, refuse_mixed_or_count},
    {"COUNT", TYPE_COUNT, TYPE_COUNT, refuse_mixed_or_count},
    {"ABB", TYPE_ABB_SETUP, TYPE_ABB_STORED, refuse_abb},
    {"GH", TYPE_GH, TYPE_GH, refuse_gh},
    {"TRANSFER", FLAG_TRANSFER, FLAG_TRANSFER, refuse_transfer},
    {"DROP", FLAG_DROP, FLAG_DROP, refuse_drop},
    {"DIAGNOSE", FLAG_DIAGNOSE, 0, refuse_diagnose},
    {"SYNTHESIZE", FLAG_SYNTHESIZE, 0, refuse_synthesize},
};

// The type list of a statement keyword.
const TypeList& find_list(const char* keyword) {
  for (const auto& list : type_lists)
    if (std::strcmp(list.keyword, keyword) == 0) return list;
  error_exitf("Keyword %s not recognized", keyword);
}

// Takes the option /all out of a DIAGNOSE statement; true when it was there.
bool take_diagnose_option(char* p) {
  char* slash = std::strchr(p, '/');
  if (slash == nullptr) return false;
  if (strncasecmp(slash + 1, "all", 3) != 0 || (slash[4] != '\0' && slash[4] != ' '))
    error_exit("DIAGNOSE variable list syntax error");
  std::memset(slash, ' ', 4);
  return true;
}

// Reads one item (a name or a range of two names) of a type list; false at the end.
bool next_item(Setup& setup, char*& p, int& first, int& last) {
  p = const_cast<char*>(skip_blanks(p));
  if (*p == '\0') return false;
  std::string name;
  const char* after = scan_name(name, p);
  if (name.empty()) statement_error("Variable list syntax error: '%.8s'", after);
  int a = setup.vars.index.find(name);
  int b = a;
  const char* q = skip_blanks(after);
  if (*q == '-') {
    after = scan_name(name, q + 1);
    if (name.empty()) statement_error("Variable list syntax error: '%.8s'", after);
    b = setup.vars.index.find(name);
  }
  if (a == INTERCEPT || b == INTERCEPT) statement_error("Variable list syntax error: '%.8s'", after);
  first = a;
  last = b;
  q = skip_blanks(after);
  if (*q == ',') ++q;
  p = const_cast<char*>(q);
  return true;
}

}  // namespace

void default_statement(Setup& setup, char* p) {
  static const struct { const char* word; int code; } defaults[] = {
      {"CONTINUOUS", TYPE_CONTINUOUS}, {"CATEGORICAL", TYPE_CATEGORICAL}, {"CLASS", TYPE_CATEGORICAL},
      {"MIXED", TYPE_MIXED},           {"COUNT", TYPE_COUNT},             {"ABB", TYPE_ABB_STORED},
      {"GH", TYPE_GH},                 {"TRANSFER", FLAG_TRANSFER},       {"DROP", FLAG_DROP}};
  std::string word = read_value(p, 32);
  if (word.empty()) error_exit("DEFAULT type missing");
  if (setup.req.default_type != 0 || setup.req.type_list_seen) error_exit("DEFAULT out of order");
  if (*skip_blanks(p) != '\0') error_exit("DEFAULT syntax error");
  for (const auto& entry : defaults) {
    if (same_word(word, entry.word)) {
      setup.req.default_type = entry.code;
      if (entry.code == FLAG_TRANSFER || entry.code == FLAG_DROP) setup.req.impute_requested = true;
      return;
    }
  }
  error_exit("DEFAULT syntax error");
}

void type_list_statement(Setup& setup, char* p, const char* keyword) {
  const TypeList& list = find_list(keyword);
  Requested& req = setup.req;
  // Without DEFAULT the first list fixes the default at continuous. A list of the default type
  // says nothing, since every unlisted variable gets that type anyway.
  if (req.default_type == 0) req.default_type = TYPE_CONTINUOUS;
  if (list.default_code != 0 && req.default_type == list.default_code)
    error_exitf("%s is default; list invalid", list.keyword);
  req.type_list_seen = true;

  std::uint16_t code = list.code;
  if (list.code == FLAG_DIAGNOSE) {
    if (take_diagnose_option(p)) code = FLAG_DIAGNOSE_ALL;
    if (*skip_blanks(p) == '\0') error_exit("DIAGNOSE variable list missing");
    req.diagnose = true;
  }
  if (list.code == FLAG_TRANSFER || list.code == FLAG_DROP || list.code == FLAG_DIAGNOSE) req.impute_requested = true;
  if (list.code == FLAG_SYNTHESIZE) req.synthesize = true;

  int first = 0, last = 0;
  while (next_item(setup, p, first, last)) {
    int low = first < last ? first : last;
    int high = first < last ? last : first;
    for (int v = low; v <= high; ++v) {
      std::uint16_t flags = setup.vars.flags[v];
      if (flags != 0 && list.refused(flags, list.code))
        error_exitf("Variable %s already specified", variable_name(setup, last));
      setup.vars.flags[v] = static_cast<std::uint16_t>(flags | code);
    }
  }
}

}  // namespace tesset
