// Statement reader of seekset. The opening statements name the datasets; the dataset is bound
// before the variable statements, which refer to its variables by name or number.
#include "seekset/statements.h"

#include "runtime/frame.h"
#include "runtime/setup_reader.h"
#include "runtime/statement_cursor.h"
#include "seekset/references.h"

namespace seekset {

namespace {

// The next statement of the setup; its end before RUN ends the run.
StatementCursor next_statement() {
  if (!read_statement()) error_exitf("Can't read setup file: %s", setup_file_path().c_str());
  return current_statement();
}

std::string dataset_value(StatementCursor& p, const char* missing) {
  std::string name = p.item(max_dataset_name);
  if (name.empty()) error_exit(missing);
  return name;
}

// LIBNAME libref path ...: library references of the SAS program.
void libname_statement(SeekSetup& setup, StatementCursor& p) {
  for (std::string libref = p.item(max_dataset_name); !libref.empty(); libref = p.item(max_dataset_name)) {
    std::string path = p.item(max_dataset_name);
    if (path.empty()) error_exit("LIBNAME library reference missing");
    setup.libnames.emplace_back(std::move(libref), std::move(path));
  }
  if (setup.libnames.empty()) error_exit("LIBNAME libraries missing");
}

// TITLE text: one quoted value, or the rest of the statement.
void title_statement(SeekSetup& setup, StatementCursor& p) {
  p.skip_blanks();
  setup.title = (p.peek() == '"' || p.peek() == '\'') ? p.item() : std::string(p.rest());
}

// Skips a parenthesised value after a keyword that the checker does not know.
void skip_unknown_value(StatementCursor& p) {
  if (!p.skip_blanks().take('(')) return;
  p.take_until(")");
  if (!p.take(')')) error_exit("Unbalanced parentheses");
}

// The warning of an output variable that no DATAOUT will receive.
void warn_without_dataout(const SeekSetup& setup, const char* what) {
  if (setup.dataout.empty()) log_linef(false, "    Warning: %s variable without dataout", what);
}

// Takes the value of one variable statement.
void take_variable_statement(SeekSetup& setup, Keyword keyword, StatementCursor& p, References& refs,
                             RepeatGuard& given) {
  switch (keyword) {
    case Keyword::id:
      given.once("ID");
      setup.id = refs.existing(p, role_predictor);
      break;
    case Keyword::weight:
      given.once("WEIGHT", "Repeated weight variable");
      setup.weight = refs.existing(p, role_weight);
      break;
    case Keyword::covariate:
      given.once("COVARIATE", "Repeated covariate variable");
      setup.covariate = refs.existing(p, role_weight);
      break;
    case Keyword::dependent:
      given.once("DEPENDENT", "Repeated dependent variable");
      setup.dependents = refs.existing_list(p, role_dependent);
      break;
    case Keyword::predictor: {
      // Several predictor statements add up.
      const std::vector<int> more = refs.existing_list(p, role_predictor);
      setup.predictors.insert(setup.predictors.end(), more.begin(), more.end());
      break;
    }
    case Keyword::group:
      given.once("GROUP", "Repeated group variable");
      warn_without_dataout(setup, "Group");
      setup.group = refs.created(p, role_group);
      break;
    case Keyword::estimate:
      given.once("ESTIMATE", "Repeated estimate variable");
      warn_without_dataout(setup, "Estimate");
      setup.estimates = refs.created_list(p, role_estimate);
      break;
    case Keyword::residual:
      given.once("RESIDUAL", "Repeated residual variable");
      warn_without_dataout(setup, "Residual");
      setup.residuals = refs.created_list(p, role_residual);
      break;
    case Keyword::none:
    case Keyword::run:
      break;
  }
}

// Takes the variable statements of one setup statement; true when it holds RUN.
bool take_statement(SeekSetup& setup, StatementCursor p, References& refs, RepeatGuard& given) {
  for (;;) {
    p.skip_separators();
    if (p.at_end()) return false;
    const std::string_view word = p.take_until(" =,()");
    if (word.empty()) {
      // A parenthesised value without its keyword, or a stray ")".
      if (p.peek() == '(') skip_unknown_value(p);
      else p.advance();
      continue;
    }
    if (p.skip_blanks().take('=')) p.skip_blanks();
    const Keyword keyword = classify_keyword(word);
    if (keyword == Keyword::run) return true;
    if (keyword == Keyword::none) skip_unknown_value(p);
    else take_variable_statement(setup, keyword, p, refs, given);
  }
}

}  // namespace

void read_opening_statements(SeekSetup& setup) {
  open_setup(nullptr);
  RepeatGuard given;
  for (;;) {
    StatementCursor p = next_statement();
    const std::string keyword = p.keyword();
    if (same_word(keyword, "DATAIN")) {
      given.once("DATAIN");
      setup.datain = dataset_value(p, "DATAIN name missing");
    } else if (same_word(keyword, "DATAOUT")) {
      given.once("DATAOUT");
      setup.dataout = dataset_value(p, "DATAOUT name missing");
      if (setup.host_mode == HOST_NONE) log_line(false, "    Warning: DATAOUT not implemented for standalone");
    } else if (same_word(keyword, "LIBNAME")) {
      if (setup.host_mode != HOST_SAS) {
        log_line(false, "    Warning: LIBNAME used only with SAS");
        continue;
      }
      given.once("LIBNAME");
      libname_statement(setup, p);
    } else if (same_word(keyword, "TITLE")) {
      if (!given.seen("DATAIN")) error_exit("Datain statement missing or out of order");
      title_statement(setup, p);
      return;
    } else {
      error_exit("Title statement missing or out of order");
    }
  }
}

std::string input_metadata_path(const SeekSetup& setup) {
  if (setup.host_mode != HOST_NONE) return companion_path(".met");
  return dataset_metadata_path(setup.datain);
}

void bind_dataset(SeekSetup& setup, const DatasetMeta& meta) {
  if (meta.nvar >= 32767) error_exitf("Dataset %s has more than 32766 variables", setup.datain.c_str());
  setup.dataset_count = meta.nvar;
  for (int j = 0; j < meta.nvar; ++j) {
    setup.names.push_back(meta.name(j));
    setup.labels.push_back(meta.label(j));
    setup.flags.push_back(meta.is_char(j) ? character_flag : 0);
    setup.frame_of_var.push_back(meta.frame_of_var.empty() ? -1 : meta.frame_of_var[static_cast<std::size_t>(j)]);
  }
}

void read_variable_statements(SeekSetup& setup) {
  References refs(setup);
  RepeatGuard given;
  while (!take_statement(setup, next_statement(), refs, given)) {
  }
}

void check_setup(const SeekSetup& setup) {
  if (setup.dependents.empty()) error_exit("Dependent variable missing");
  if (setup.predictors.empty()) error_exit("Predictors missing");
  if (!setup.dataout.empty() && !setup.has_outputs())
    log_line(false, "    Warning: Dataout without group, estimate, or residual variables");
  if (interrupted()) error_exit("User interrupt");
}

}  // namespace seekset
