// How a call text queued as "name(argument)" becomes a function name and its
// argument list.
#pragma once

#include <string>
#include <vector>

struct PageCall {
  std::string name;
  std::vector<std::string> arguments;
};

// "refresh" calls refresh with no arguments; "refresh()" with one empty
// text; "show( 'a b' )" with "a b". The argument loses closing parentheses,
// blanks and single quotes at its end, then at its start, and is then
// JSON-unescaped. A text whose "(" is its first character is all name.
PageCall ParseCallText(const std::string& text);
