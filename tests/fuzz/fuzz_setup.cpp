// Setup files: every statement is assembled, taken apart with the statement cursor and with the
// older keyword and value readers, and the setup is copied into the listing.
#include <cstring>
#include <span>
#include <string>

#include "runtime/frame.h"
#include "runtime/setup_reader.h"
#include "runtime/statement_cursor.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {

namespace {

// Reads a statement as the programs do: a keyword, then what its first letter asks for (a
// number, a name, a short value or a list of items), until the statement ends.
void take_apart(StatementCursor cursor) {
  while (!cursor.skip_blanks().at_end()) {
    const std::size_t before = cursor.position();
    const std::string keyword = cursor.keyword();
    double number = 0;
    switch (keyword.empty() ? 0 : keyword[0] % 4) {
      case 0:
        cursor.unsigned_number(number);
        break;
      case 1:
        cursor.name();
        cursor.skip_separators();
        break;
      case 2:
        cursor.value(8);
        break;
      default:
        for (std::size_t at = before; !cursor.at_end() && cursor.peek() != '=' && cursor.position() != at;) {
          at = cursor.position();
          cursor.item();
        }
    }
    if (matches_keyword(keyword, "VARIABLES", 3)) cursor.up_to(cursor.text().size()).take_until(";(");
    if (cursor.position() == before) cursor.advance();
  }
}

// The same statement through next_keyword and next_value, values terminated in place.
void take_apart_in_place(char* statement) {
  char keyword[33];
  char* position = next_keyword(keyword, statement);
  while (*position != '\0') {
    char* next = next_value(position, 0, position);
    if (next == position) break;
    position = next_keyword(keyword, next);
  }
}

void read_setup() {
  open_setup(nullptr);
  while (read_statement()) {
    take_apart(current_statement());
    take_apart_in_place(statement_text());
  }
  open_listing("Setup", nullptr);
  setup_listing();
}

}  // namespace

int setup_entry(const std::uint8_t* data, std::size_t size) {
  prepare();
  write_file(work_file("job.set"), std::span(data, size));
  run_input([] { read_setup(); });
  return 0;
}

}  // namespace fuzz
