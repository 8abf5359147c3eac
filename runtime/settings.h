// Settings file reader: the paths of outside programs, from "settings.xml" beside the programs
// or in the folder above a "bin" folder.
#pragma once

#include <cstddef>

// Fills `destination` with the attribute's value (at most capacity - 1 characters), or with an
// empty text when the element or attribute is absent.
void app_setting(const char* element, const char* attribute, char* destination, std::size_t capacity);

// Looks up `name` in the attribute text [text, text + length). Returns `destination` holding
// the value, or, with a null destination, a pointer into `text` with the value terminated in
// place; null when the attribute is absent.
char* xml_attribute(char* text, std::size_t length, const char* name, char* destination,
                    std::size_t capacity);
