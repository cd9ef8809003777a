#include "diag/quote.h"

namespace qv {
namespace {

constexpr const char* kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "a",
                                           "b",   "t",   "n",   "v",   "f",   "r",   "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

}  // namespace

void appendQuoted(std::string& out, Label text) {
  out += '"';
  text.visit([&](auto chars) {
    const std::size_t n = chars.size();
    for (std::size_t i = 0; i < n; ++i) {
      const char32_t c = chars[i];
      if (c == '"') {
        out += "\\\"";
      } else if (c == '\\') {
        out += "\\\\";
      } else if (c >= 32 && c < 127) {
        out += static_cast<char>(c);
      } else if (c < 32) {
        out += '\\';
        out += kControlNames[c];
        // "\SO" followed by "H" would read back as "\SOH".
        if (c == 14 && i + 1 < n && chars[i + 1] == 'H') out += "\\&";
      } else if (c == 127) {
        out += "\\DEL";
      } else {
        out += '\\';
        out += std::to_string(static_cast<std::uint32_t>(c));
        // A digit right after a decimal escape would read back as part of it.
        if (i + 1 < n && chars[i + 1] >= '0' && chars[i + 1] <= '9') out += "\\&";
      }
    }
  });
  out += '"';
}

std::string quotedText(Label text) {
  std::string out;
  appendQuoted(out, text);
  return out;
}

}  // namespace qv
