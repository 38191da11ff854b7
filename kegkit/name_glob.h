// name_glob.h: shell-style patterns for entry names: '*' any run of
// characters ('/' included), '?' one character (a whole one in a UTF-8
// name), "[...]" one byte of a set or range ("[!...]" or "[^...]": none of
// them). Case counts.
#pragma once

#include <string>

bool glob_match(const std::string &pattern, const std::string &text);
