// Signing in to the demo service: the form of POST /api/login and the
// password in it, which is the text the client's "PasswordMD" gives the start
// page: the password's hex digits mixed into a fresh 32-digit identifier
// (MixTextWithKey in util/identifiers.h). Only the demo service needs the way
// back. The decoding is inline so that the net tests can check it (the
// password against the mixer) without linking the service.
#pragma once

#include <algorithm>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace demo_login {

constexpr size_t kMixedLength = 32;  // the identifier the client uses as key

inline int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One name or value of a form: "+" a space, %XX a byte; false for a "%"
// without two hexadecimal digits after it.
inline bool DecodeFormPart(std::string_view part, std::string& out) {
  out.clear();
  for (size_t i = 0; i < part.size(); ++i) {
    const char c = part[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else {
      const int high = i + 1 < part.size() ? DigitValue(part[i + 1]) : -1;
      const int low = i + 2 < part.size() ? DigitValue(part[i + 2]) : -1;
      if (high < 0 || low < 0) return false;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return true;
}

}  // namespace demo_login

// False, with password empty, for any text the mixer cannot have written.
inline bool UnmixPassword(std::string_view mixed, std::string& password) {
  using demo_login::DigitValue;
  constexpr size_t k = demo_login::kMixedLength;
  password.clear();
  if (mixed.size() != k) return false;
  int value[k];
  unsigned sum = 0;
  for (size_t i = 0; i < k; ++i) {
    value[i] = DigitValue(mixed[i]);
    if (value[i] < 0) return false;
    if (i + 1 < k) sum += static_cast<unsigned char>(mixed[i]);
  }
  // Compared by value: a letter's case changes the sum by 32, which the
  // check digit cannot see anyway.
  if (static_cast<unsigned>(value[k - 1]) != sum % 16) return false;
  // The hex digit that, added to the one at b, gave the one at a.
  auto diff = [&](size_t a, size_t b) {
    return static_cast<size_t>((value[a] - value[b] + 16) % 16);
  };
  const size_t n = diff(1, 0) * 16 + diff(2, 1);
  if (n % 2 != 0 || n + 4 > k) return false;
  // Every position is written at most once and never after the mixer read
  // it, so the final text holds what each step saw.
  const size_t d = k - n;
  for (size_t j = 0; j < n; j += 2) {
    password += static_cast<char>(diff(d - 1 + j, j) * 16 + diff(d + j, j + 1));
  }
  return true;
}

// The fields of an application/x-www-form-urlencoded body; of a name given
// twice the first value counts, a pair without "=" has an empty value. False
// for a malformed percent escape anywhere.
inline bool DecodeFormBody(std::string_view body, std::map<std::string, std::string>& fields) {
  using demo_login::DecodeFormPart;
  fields.clear();
  while (!body.empty()) {
    const size_t end = std::min(body.find('&'), body.size());
    const std::string_view pair = body.substr(0, end);
    body.remove_prefix(std::min(end + 1, body.size()));
    if (pair.empty()) continue;
    const size_t equals = std::min(pair.find('='), pair.size());
    std::string name, value;
    if (!DecodeFormPart(pair.substr(0, equals), name)) return false;
    if (equals < pair.size() && !DecodeFormPart(pair.substr(equals + 1), value)) return false;
    fields.emplace(std::move(name), std::move(value));
  }
  return true;
}

struct LoginAnswer {
  int status = 200;
  std::string json_utf8;
};

// The answer to a login form: the user's uid, names and a new session id, or
// why not.
LoginAnswer AnswerLogin(std::string_view form_body);
