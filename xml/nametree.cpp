#include "xml/nametree.h"

#include <cstdint>

namespace qv {

bool isBlankText(Label text) {
  return text.visit([](auto chars) {
    for (const auto c : chars) {
      const bool blank = (c >= 9 && c <= 13) || c == 32 || c == 160;
      if (!blank) return false;
    }
    return true;
  });
}

void escapeAttrValue(std::string& out, Label value) {
  value.visit([&](auto chars) {
    for (const auto c : chars) {
      switch (c) {
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '&':
          out += "&amp;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&#39;";
          break;
        default:
          if ((c >= 32 && c <= 126) || c == '\n' || c == '\r') {
            out += static_cast<char>(c);
          } else {
            out += "&#";
            out += std::to_string(static_cast<std::uint32_t>(c));
            out += ';';
          }
      }
    }
  });
}

void elementLabel(std::string& out, std::optional<std::string_view> prefix, std::string_view local,
                  std::span<const LabelAttr> attrs) {
  out += '<';
  if (prefix) {
    out += *prefix;
    out += ':';
  }
  out += local;
  for (const LabelAttr& a : attrs) {
    out += ' ';
    if (a.prefix) {
      out += *a.prefix;
      out += ':';
    }
    out += a.local;
    out += "=\"";
    escapeAttrValue(out, a.value);
    out += '"';
  }
  out += !local.empty() && local.front() == '?' ? " ?>" : " />";
}

}  // namespace qv
