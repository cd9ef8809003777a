#include "xml/content.h"

#include <string_view>

#include "tree/label.h"
#include "tree/show.h"

namespace qv {
namespace {

bool hasNestedContent(const Content& c) {
  return c.isElem() && !c.elem().elContent.empty();
}

// Empties a content list so that destroying it recurses at most one level: every
// element that still holds content is moved onto an explicit stack, and each one
// taken from the stack hands its own nested elements over before it dies.
void flatten(std::vector<Content>& items) {
  std::vector<Content> pending;
  for (Content& c : items) {
    if (hasNestedContent(c)) pending.push_back(std::move(c));
  }
  items.clear();
  while (!pending.empty()) {
    Content c = std::move(pending.back());
    pending.pop_back();
    std::vector<Content>& inner = c.elem().elContent;
    for (Content& k : inner) {
      if (hasNestedContent(k)) pending.push_back(std::move(k));
    }
    inner.clear();
  }
}

}  // namespace

Element::Element() = default;

Element::Element(QName name) : elName(std::move(name)) {}

Element::Element(QName name, std::vector<Attr> attribs, std::vector<Content> content,
                 std::optional<std::int64_t> line)
    : elName(std::move(name)),
      elAttribs(std::move(attribs)),
      elContent(std::move(content)),
      elLine(line) {}

Element::Element(Element&&) noexcept = default;

Element& Element::operator=(Element&& other) noexcept {
  if (this != &other) {
    flatten(elContent);
    elName = std::move(other.elName);
    elAttribs = std::move(other.elAttribs);
    elContent = std::move(other.elContent);
    elLine = other.elLine;
  }
  return *this;
}

Element::~Element() {
  if (!elContent.empty()) flatten(elContent);
}

namespace {

// Names are written bare when that cannot be misread, else quoted.
bool plainName(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s) {
    if (c <= 32 || c >= 127) return false;
    switch (c) {
      case '"':
      case '(':
      case ')':
      case '[':
      case ']':
      case ',':
      case '=':
      case '{':
      case '}':
      case '\\':
      case '@':
        return false;
      default:
        break;
    }
  }
  return true;
}

void appendName(std::string& out, std::string_view s) {
  if (plainName(s)) {
    out += s;
  } else {
    appendQuoted(out, Label(s));
  }
}

void appendQName(std::string& out, const QName& q) {
  if (q.qURI) {
    out += '{';
    appendQuoted(out, Label(std::u32string_view(*q.qURI)));
    out += '}';
  }
  if (q.qPrefix) {
    appendName(out, *q.qPrefix);
    out += ':';
  }
  appendName(out, q.qName);
}

void appendLine(std::string& out, const std::optional<std::int64_t>& line, bool withLines) {
  if (!withLines) return;
  out += '@';
  out += line ? std::to_string(*line) : std::string("-");
}

}  // namespace

std::string dumpContents(const std::vector<Content>& contents, bool withLines) {
  struct Frame {
    const std::vector<Content>* items;
    std::size_t next;
  };
  std::string out;
  std::vector<Frame> stack{{&contents, 0}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.items->size()) {
      stack.pop_back();
      if (!stack.empty()) out += ']';
      continue;
    }
    if (top.next > 0) out += ',';
    const Content& c = (*top.items)[top.next++];
    if (c.isElem()) {
      const Element& e = c.elem();
      out += 'E';
      appendLine(out, e.elLine, withLines);
      out += '(';
      appendQName(out, e.elName);
      for (const Attr& a : e.elAttribs) {
        out += ' ';
        appendQName(out, a.attrKey);
        out += '=';
        appendQuoted(out, Label(std::u32string_view(a.attrVal)));
      }
      out += ")[";
      stack.push_back({&e.elContent, 0});
    } else if (c.isText()) {
      const CData& t = c.text();
      out += t.cdVerbatim == CDataKind::CDataText       ? 'T'
             : t.cdVerbatim == CDataKind::CDataVerbatim ? 'V'
                                                        : 'D';
      appendLine(out, t.cdLine, withLines);
      appendQuoted(out, Label(std::u32string_view(t.cdData)));
    } else {
      out += 'R';
      appendQuoted(out, Label(c.cref().name));
    }
  }
  return out;
}

}  // namespace qv
