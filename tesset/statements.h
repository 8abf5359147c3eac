// The statement stage: the statement loop and the handlers of every setup statement. Each
// handler receives a cursor after the keyword and records what it read in the setup. The loop
// refuses a second statement of the kinds that may appear once before calling the handler.
#pragma once

#include <string>

#include "runtime/statement_cursor.h"
#include "tesset/settings.h"

namespace tesset {

// Reads the setup's statements up to RUN, dispatching each to its handler.
void read_statements(Setup& setup);

// ---- Helpers shared by the handlers. ----

// Longest value of a statement that names a dataset or file.
inline constexpr std::size_t max_value_length = 260;
// The name of variable `v` (or "INTERCEPT").
const char* variable_name(const Setup& setup, int v);
// The default type for a variable that a statement needs typed: the DEFAULT code when it is an
// imputation type, else continuous.
int effective_default_type(const Setup& setup);
// Gives an untyped variable the default type; a character variable with an odd type code stops
// the run with "Character variable %s not categorical".
void give_default_type(Setup& setup, int v);
// The check above for a variable whose type is already settled.
void check_character_type(const Setup& setup, int v);
// True when a variable's type code is odd (continuous, mixed, count, ABB or GH).
inline bool odd_type(const Setup& setup, int v) { return (setup.vars.type(v) & 1) != 0; }
// Marks a design variable (ID, multiple, stratum, cluster, BY): refused when already used
// ("<prefix> var %s conflicting definition") or of odd type ("<prefix> var %s not categorical").
void mark_design_variable(Setup& setup, int v, const char* prefix);

// ---- Handlers of the imputation side. ----
void default_statement(Setup& setup, StatementCursor& p);
void type_list_statement(Setup& setup, StatementCursor& p, const char* keyword);
void maxpred_statement(Setup& setup, StatementCursor& p);
void minrsqd_statement(Setup& setup, StatementCursor& p);
void perturb_statement(Setup& setup, StatementCursor& p);
void offsets_statement(Setup& setup, StatementCursor& p);
void bounds_statement(Setup& setup, StatementCursor& p);
void restrict_statement(Setup& setup, StatementCursor& p);

// ---- Handlers of describe and regression setups. ----
void mean_statement(Setup& setup, StatementCursor& p);
void table_statement(Setup& setup, StatementCursor& p);
void by_statement(Setup& setup, StatementCursor& p);
void model_statement(Setup& setup, StatementCursor& p);
void contrast_statement(Setup& setup, StatementCursor& p);
void interact_statement(Setup& setup, StatementCursor& p);
void predictor_statement(Setup& setup, StatementCursor& p);
void dependent_statement(Setup& setup, StatementCursor& p);
void censor_statement(Setup& setup, StatementCursor& p);
void estimates_statement(Setup& setup, StatementCursor& p);

}  // namespace tesset
