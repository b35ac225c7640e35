// How the service methods read their arguments: each method accepts its own
// set of value kinds as an integer, and everything else counts as a default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/script_value.h"

// Kinds an integer argument may come as.
enum IntegerKinds : unsigned {
  kIntegerNumbers = 1,     // 16- and 32-bit integers and references to them
  kIntegerBytes = 2,       // bytes and booleans (true is -1)
  kIntegerText = 4,        // decimal texts ("12abc" is 12)
  kIntegerTextRef = 8,     // references to decimal texts
};

// Argument index as an integer when its kind is one of kinds, else fallback
// (also for a missing argument).
int32_t IntegerOf(const std::vector<ScriptValue>& arguments, size_t index, unsigned kinds,
                  int32_t fallback = 0);

// Every argument as GBK text (strings converted, other kinds empty), as
// many as the page passed.
std::vector<std::string> TextsOf(const std::vector<ScriptValue>& arguments);
