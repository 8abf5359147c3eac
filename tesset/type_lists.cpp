// DEFAULT and the type lists (CONTINUOUS ... SYNTHESIZE, DIAGNOSE): each names variables and
// ORs its code into their flag words, refusing variables that another list already settled.
#include <cstring>

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

// The text of a DIAGNOSE statement with its option /all blanked out; `all` tells whether it was
// there. Only the copy changes, never the statement.
std::string without_diagnose_option(const StatementCursor& p, bool& all) {
  std::string text(p.text());
  const std::size_t slash = text.find('/', p.position());
  all = slash != std::string::npos;
  if (!all) return text;
  const char after = slash + 4 < text.size() ? text[slash + 4] : '\0';
  if (!same_word(std::string_view(text).substr(slash + 1, 3), "all") || (after != '\0' && after != ' '))
    error_exit("DIAGNOSE variable list syntax error");
  text.replace(slash, 4, 4, ' ');
  return text;
}

// Reads one item (a name or a range of two names) of a type list; false at the end.
bool next_item(Setup& setup, StatementCursor& p, int& first, int& last) {
  if (p.skip_blanks().at_end()) return false;
  const char* syntax = "Variable list syntax error: '%.8s'";
  std::string name = p.name(max_name_length);
  if (name.empty()) p.syntax_error(syntax);
  int a = setup.vars.index.find(name);
  int b = a;
  StatementCursor q = p;
  if (q.skip_blanks().take('-')) {
    name = q.name(max_name_length);
    p = q;
    if (name.empty()) p.syntax_error(syntax);
    b = setup.vars.index.find(name);
  }
  if (a == INTERCEPT || b == INTERCEPT) p.syntax_error(syntax);
  first = a;
  last = b;
  p.skip_blanks().take(',');
  return true;
}

}  // namespace

void default_statement(Setup& setup, StatementCursor& p) {
  static const struct { const char* word; int code; } defaults[] = {
      {"CONTINUOUS", TYPE_CONTINUOUS}, {"CATEGORICAL", TYPE_CATEGORICAL}, {"CLASS", TYPE_CATEGORICAL},
      {"MIXED", TYPE_MIXED},           {"COUNT", TYPE_COUNT},             {"ABB", TYPE_ABB_STORED},
      {"GH", TYPE_GH},                 {"TRANSFER", FLAG_TRANSFER},            {"DROP", FLAG_DROP}};
  std::string word = p.item(32);
  if (word.empty()) error_exit("DEFAULT type missing");
  if (setup.req.default_type != 0 || setup.req.type_list_seen) error_exit("DEFAULT out of order");
  if (!p.skip_blanks().at_end()) error_exit("DEFAULT syntax error");
  for (const auto& entry : defaults) {
    if (same_word(word, entry.word)) {
      setup.req.default_type = entry.code;
      if (entry.code == FLAG_TRANSFER || entry.code == FLAG_DROP) setup.req.impute_requested = true;
      return;
    }
  }
  error_exit("DEFAULT syntax error");
}

void type_list_statement(Setup& setup, StatementCursor& p, const char* keyword) {
  const TypeList& list = find_list(keyword);
  Requested& req = setup.req;
  // Without DEFAULT the first list fixes the default at continuous. A list of the default type
  // says nothing, since every unlisted variable gets that type anyway.
  if (req.default_type == 0) req.default_type = TYPE_CONTINUOUS;
  if (list.default_code != 0 && req.default_type == list.default_code)
    error_exitf("%s is default; list invalid", list.keyword);
  req.type_list_seen = true;

  std::uint16_t code = list.code;
  // The variable list, which for FLAG_DIAGNOSE is the statement without its option.
  std::string diagnose_text;
  StatementCursor items = p;
  if (list.code == FLAG_DIAGNOSE) {
    bool all = false;
    diagnose_text = without_diagnose_option(p, all);
    if (all) code = FLAG_DIAGNOSE_ALL;
    items = StatementCursor(diagnose_text, p.position());
    if (StatementCursor(items).skip_blanks().at_end()) error_exit("DIAGNOSE variable list missing");
    req.diagnose = true;
  }
  if (list.code == FLAG_TRANSFER || list.code == FLAG_DROP || list.code == FLAG_DIAGNOSE) req.impute_requested = true;
  if (list.code == FLAG_SYNTHESIZE) req.synthesize = true;

  int first = 0, last = 0;
  while (next_item(setup, items, first, last)) {
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
