// Variable references of search setups: a name or a 1-based number, for a dataset variable that
// takes a role or for a new output variable; and the lists of them that the variable statements
// take (parentheses, ranges over dataset order, one "/" after the first item).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/variable_list.h"
#include "runtime/statement_cursor.h"
#include "seekset/settings.h"

namespace seekset {

// Whether a word in keyword position names one of the variable statements.
enum class Keyword { none, id, weight, dependent, covariate, group, estimate, residual, predictor, run };
Keyword classify_keyword(std::string_view word);

// Resolves references against the setup's variables and gives them their roles.
class References {
 public:
  // The setup's dataset variables must be in place; the references create the outputs.
  explicit References(SeekSetup& setup);

  // One dataset variable at the cursor, given `role`; returns its index.
  int existing(StatementCursor& p, std::uint16_t role);
  // One new output variable at the cursor, created with `role`; returns its index.
  int created(StatementCursor& p, std::uint16_t role);
  // A list of dataset variables at the cursor, each given `role`; returns their indexes.
  std::vector<int> existing_list(StatementCursor& p, std::uint16_t role);
  // A list of new output variables at the cursor, each created with `role`.
  std::vector<int> created_list(StatementCursor& p, std::uint16_t role);

  // Whether the text at the cursor (after separators) ends an unparenthesised list: a word
  // followed by "=" or "(", or a statement keyword that names no dataset variable.
  bool at_keyword(const StatementCursor& p) const;

 private:
  // A reference as written: a number (begins with a digit) or a name.
  struct Written {
    bool is_number = false;
    std::int64_t number = 0;
    std::string name;
  };
  Written read(StatementCursor& p) const;
  // The dataset variable of a reference; "Variable ... missing" when there is none.
  int resolve(const Written& reference) const;
  // The dataset index of a name, -1 when no dataset variable has it.
  int dataset_index(std::string_view name) const;
  // Gives dataset variable `v` its role: refused for character data and for a second role.
  void assign(int v, std::uint16_t role);
  // Reads the items of a list, calling `item` for each; handles parentheses and the "/".
  template <typename Item>
  void walk_list(StatementCursor& p, Item item);
  // Skips the rest of a list after its "/".
  void skip_list_rest(StatementCursor& p, bool parenthesised) const;

  SeekSetup& setup_;
  NameIndex index_;
};

}  // namespace seekset
