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

namespace {

// Printable ASCII but the five that have entities, and the line ends: kept as they are.
constexpr bool keptInValue(char32_t c) {
  return ((c >= 32 && c <= 126) || c == '\n' || c == '\r') && c != '<' && c != '>' && c != '&' &&
         c != '"' && c != '\'';
}

void escapeInValue(std::string& out, char32_t c) {
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
      out += "&#";
      out += std::to_string(static_cast<std::uint32_t>(c));
      out += ';';
  }
}

}  // namespace

void escapeAttrValue(std::string& out, Label value) {
  value.visit([&](auto chars) {
    // The runs between escapes are kept whole, copied at once where codes are bytes.
    auto keep = [&](std::size_t from, std::size_t to) {
      if constexpr (sizeof(chars[0]) == 1) {
        out.append(reinterpret_cast<const char*>(chars.data()) + from, to - from);
      } else {
        for (std::size_t k = from; k < to; ++k) out += static_cast<char>(chars[k]);
      }
    };
    std::size_t run = 0;
    for (std::size_t i = 0; i < chars.size(); ++i) {
      if (keptInValue(chars[i])) continue;
      keep(run, i);
      escapeInValue(out, chars[i]);
      run = i + 1;
    }
    keep(run, chars.size());
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
