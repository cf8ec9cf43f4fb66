#pragma once
// The three text forms of a double used by every repr and writer.
#include <string>

namespace quorvalind::gp {

// Shortest round-trip digits laid out positionally, never an exponent:
// 1 -> "1", 1e-7 -> "0.0000001", -0.0 -> "-0"; "NaN", "inf", "-inf".
void append_shortest(std::string& out, double v);

// Exact binary value rounded to `digits` decimals, ties to even, never an
// exponent, minus sign kept whenever the value is negative (also -0);
// "NaN", "inf", "-inf".
void append_fixed(std::string& out, double v, int digits);

inline std::string shortest(double v) {
  std::string s;
  append_shortest(s, v);
  return s;
}

inline std::string fixed(double v, int digits) {
  std::string s;
  append_fixed(s, v, digits);
  return s;
}

}  // namespace quorvalind::gp
