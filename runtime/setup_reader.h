// Setup file reader: a stack of statement sources, statement assembly, and the keyword and
// value token readers with which every program takes a statement apart.
#pragma once

#include <cstdio>
#include <string>

// Most sources open at once (the setup file and the files it pulls in).
inline constexpr int max_setup_sources = 12;
// Size of each source's line buffer.
inline constexpr int setup_buffer_size = 65535;

// Null file: open the setup file (base + ".set") or rewind the current source.
// Another file: push it as the new current source.
void open_setup(FILE* file);
// A file: it must be the current source; pop it. Null: close every source.
void close_setup(FILE* file);

// Assembles the next statement of the current source; false at its end (the source is then
// rewound). The statement stays valid until the next call.
bool read_statement();
// Start of the statement assembled by the last read_statement.
char* statement_text();

// Reads a keyword (at most 32 characters) into `keyword` (33 bytes); returns the position of
// its value (after an optional "=").
char* next_keyword(char* keyword, char* position);
// Reads a value into `value` (max + 1 bytes; max 0: the rest of the statement). `value` may be
// `position` itself, in which case the value is terminated in place.
char* next_value(char* value, int max, char* position);

// Path of the setup file (the bottom source), for messages; empty when none is open.
std::string setup_file_path();

// Copies the setup file into the listing under "Setup listing:".
void setup_listing();
