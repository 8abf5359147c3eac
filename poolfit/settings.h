// What a poolfit setup asked for, and what the run found in the dataset's metadata.
#pragma once

#include <string>
#include <vector>

// Print levels of the PRINT statement.
inline constexpr int print_none = 0;
inline constexpr int print_standard = 1;
inline constexpr int print_details = 2;
inline constexpr int print_all = 2047;

// Model kinds: how the estimates are shown (intervals, tests, sums of squares).
inline constexpr int kind_plain = 0;          // plain confidence limits
inline constexpr int kind_least_squares = 1;  // T tests and sums of squares
inline constexpr int kind_mixed = 9;          // plain limits, scale parameter _SIGMA_
inline constexpr int max_kind = 9;

// One variable named by a statement: its name as the dataset spells it and whether it holds text.
struct NamedVariable {
  std::string name;
  bool text = false;
};

// Options of one poolfit run.
struct PoolfitSettings {
  // What the statements asked for.
  std::vector<std::string> datain;  // DATA: dataset names (the first one's metadata is read)
  std::string by_list;              // BY: the variable list text
  std::string cluster_name;         // CLUST
  std::string stratum_name;         // STRAT
  std::string weight_name;          // WEIGHT
  std::string estout;               // ESTOUT: name of the estimates data set, empty for none
  int multiples = -1;               // MULT: imputations announced, -1 when not given
  int print = print_standard;       // PRINT level
  std::string procedure;            // PROC: host procedure name
  int kind = kind_plain;            // model kind: PROC's second value, or the procedure's default
  std::string title;                // TITLE: listing subtitle

  // What the run found in the metadata.
  std::vector<NamedVariable> by;    // the by variables in list order
  bool design = false;              // a stratum, cluster or weight was given
  bool weighted = false;            // a weight was given

  bool least_squares() const { return kind == kind_least_squares; }
};

// Reads the setup statements up to RUN and resolves the variables against the dataset.
PoolfitSettings read_poolfit_setup();
