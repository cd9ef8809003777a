#include "xml/nametree.h"

#include <cstdint>

#include "xml/chars.h"

namespace qv {

bool isBlankText(Label text) {
  return text.visit([](auto chars) {
    for (const auto c : chars) {
      if (!isBlank(c)) return false;
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

namespace {

void appendName(std::string& out, const Name& name) {
  if (name.prefix) {
    out += *name.prefix;
    out += ':';
  }
  out += name.local;
}

}  // namespace

void elementLabel(std::string& out, const Name& name, std::span<const LabelAttr> attrs) {
  out += '<';
  appendName(out, name);
  for (const LabelAttr& a : attrs) {
    out += ' ';
    appendName(out, a.name);
    out += "=\"";
    escapeAttrValue(out, a.value);
    out += '"';
  }
  out += !name.local.empty() && name.local.front() == '?' ? " ?>" : " />";
}

}  // namespace qv
