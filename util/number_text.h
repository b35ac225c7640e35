// Reading numbers out of texts the way the C runtime's atoi does: leading
// blanks, an optional sign, then digits up to the first non-digit; no digits
// give 0. Values are taken modulo 2^32, never undefined on overflow.
#pragma once

#include <cstdint>
#include <string_view>

int32_t ParseLeadingInt(std::string_view text);
