#include "gp/text_format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace quorvalind::gp {

namespace {

// Returns true (and writes the spelling) for NaN and the infinities.
bool append_special(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return true;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

}  // namespace

void append_shortest(std::string& out, double v) {
  if (append_special(out, v)) return;
  // Scientific form gives the shortest digits and the decimal exponent,
  // e.g. "-1.2345e-07"; the layout below is positional.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const char* p = buf;
  const char* end = res.ptr;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[32];
  int nd = 0;
  while (p < end && *p != 'e') {
    if (*p != '.') digits[nd++] = *p;
    ++p;
  }
  int exp = 0;
  if (p < end) std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exp);
  // Value = 0.d1d2...dn * 10^(exp+1); point goes after (exp+1) digits.
  const int point = exp + 1;
  if (nd == 1 && digits[0] == '0') {
    out += '0';
    return;
  }
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(digits, static_cast<std::size_t>(nd));
  } else if (point >= nd) {
    out.append(digits, static_cast<std::size_t>(nd));
    out.append(static_cast<std::size_t>(point - nd), '0');
  } else {
    out.append(digits, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits + point, static_cast<std::size_t>(nd - point));
  }
}

void append_fixed(std::string& out, double v, int digits) {
  if (append_special(out, v)) return;
  // Large enough for 1.8e308 written out in full with its decimals.
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, digits);
  out.append(buf, res.ptr);
}

}  // namespace quorvalind::gp
