// The scanning core of the lenient XML reader: any bytes in, never a failure, no
// recursion on depth and work linear in the input; parseXML reports the content to
// an events object in document order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/find_byte.h"
#include "tree/label.h"
#include "xml/chars.h"
#include "xml/namespaces.h"
#include "xml/nametree.h"
#include "xml/references.h"

namespace qv {

enum class CDataKind {
  CDataText,      // ordinary character data, references resolved
  CDataVerbatim,  // the inside of a CDATA section, as written
  CDataRaw,       // a "<!...>" declaration, as written
};

// What the scan reports for a start tag. The views last until the next event.
struct StartTag {
  Name name;
  std::span<const LabelAttr> attrs;
  bool hasContent;  // false for an empty-element tag: no endElement follows
};

namespace detail {

struct CharClasses {
  std::array<bool, 256> space{};
  std::array<bool, 256> nameStop{};   // ends a tag or attribute name
  std::array<bool, 256> valueStop{};  // ends an unquoted attribute value
  constexpr CharClasses() {
    for (int c = 0; c < 256; ++c) {
      const bool s = isBlank(static_cast<char32_t>(c));
      space[c] = s;
      nameStop[c] = s || c == '=' || c == '>' || c == '/';
      valueStop[c] = s || c == '>' || c == '/';
    }
  }
};
constexpr CharClasses kClasses;

template <class Events>
class Scanner {
 public:
  Scanner(std::string_view document, Events& events)
      : p_(document.data()), end_(document.data() + document.size()), events_(events) {}

  void run() {
    while (p_ < end_) {
      counted(1);
      if (*p_ == '<') {
        markup();
      } else {
        characterData();
      }
    }
    flushText();
    closeDownTo(0);
  }

 private:
  void counted(std::uint64_t units) {
    // Events that count the scan's work declare examined(); the reader's own do not.
    if constexpr (requires { events_.examined(units); }) events_.examined(units);
  }

  // ---- Scanning primitives; each counts the bytes it looks at.

  const char* skipSpace(const char* s) {
    const char* from = s;
    while (s < end_ && kClasses.space[static_cast<unsigned char>(*s)]) ++s;
    counted(static_cast<std::uint64_t>(s - from));
    return s;
  }
  const char* skipUntil(const char* s, const std::array<bool, 256>& stop) {
    const char* from = s;
    while (s < end_ && !stop[static_cast<unsigned char>(*s)]) ++s;
    counted(static_cast<std::uint64_t>(s - from));
    return s;
  }
  // The first c in [from, to), or to.
  const char* findChar(const char* from, const char* to, char c) {
    const char* const at = findByte(from, c, static_cast<std::size_t>(to - from));
    const char* r = at == nullptr ? to : at;
    counted(static_cast<std::uint64_t>(r - from));
    return r;
  }
  // The first occurrence of needle at or after from, or nullptr.
  const char* findText(const char* from, std::string_view needle) {
    const std::string_view rest(from, static_cast<std::size_t>(end_ - from));
    const std::size_t at = rest.find(needle);
    counted(at == std::string_view::npos ? rest.size() : at + needle.size());
    return at == std::string_view::npos ? nullptr : from + at;
  }
  bool startsWith(const char* s, std::string_view prefix) const {
    return static_cast<std::size_t>(end_ - s) >= prefix.size() &&
           std::memcmp(s, prefix.data(), prefix.size()) == 0;
  }
  static Name splitName(const char* b, const char* e) {
    const std::string_view whole(b, static_cast<std::size_t>(e - b));
    const std::size_t colon = whole.find(':');
    if (colon == std::string_view::npos) return {std::nullopt, whole};
    return {whole.substr(0, colon), whole.substr(colon + 1)};
  }

  // ---- Character data, references and the merging of adjacent text.

  void characterData() {
    const char* runEnd = findChar(p_, end_, '<');
    const char* s = p_;
    while (s < runEnd) {
      const char* amp = findChar(s, runEnd, '&');
      // Without a ";" later in the run, the rest of the run is plain text.
      const char* semi = amp == runEnd ? runEnd : findChar(amp + 1, runEnd, ';');
      if (semi == runEnd) {
        addSlice(CDataKind::CDataText, s, runEnd, s);
        break;
      }
      if (amp > s) addSlice(CDataKind::CDataText, s, amp, s);
      const std::string_view name(amp + 1, static_cast<std::size_t>(semi - amp - 1));
      if (const auto code = resolveReference(name)) {
        startOrJoin(CDataKind::CDataText, amp);
        appendCode(*code);
      } else {
        flushText();
        events_.reference(name);
      }
      s = semi + 1;
    }
    p_ = runEnd;
  }

  // Text is gathered until something that is not text of the same kind comes;
  // while it is one contiguous slice of the document it is not copied at all.
  struct PendingText {
    bool active = false;
    bool sealed = false;  // an unmatched end tag never joins what follows it
    bool owned = false;   // the characters are in narrow/wide, not in the document
    bool wide = false;
    CDataKind kind = CDataKind::CDataText;
    const char* begin = nullptr;
    std::size_t size = 0;
    std::string narrow;
    std::u32string wideChars;
  };

  // Starts a new text item unless the pending one takes a piece of this kind.
  void startOrJoin(CDataKind kind, const char* at) {
    if (text_.active && text_.kind == kind && !text_.sealed) return;
    flushText();
    text_.active = true;
    text_.sealed = false;
    text_.owned = false;
    text_.wide = false;
    text_.kind = kind;
    text_.begin = at;
    text_.size = 0;
  }

  void own() {
    if (text_.owned) return;
    text_.owned = true;
    text_.narrow.assign(text_.begin, text_.size);
    counted(text_.size);
  }

  void appendOwned(std::string_view bytes) {
    own();
    counted(bytes.size());
    if (text_.wide) {
      for (const char c : bytes) text_.wideChars.push_back(static_cast<unsigned char>(c));
    } else {
      text_.narrow.append(bytes);
    }
  }

  void appendCode(char32_t code) {
    own();
    counted(1);
    if (code > 255 && !text_.wide) {
      text_.wide = true;
      for (const char c : text_.narrow) text_.wideChars.push_back(static_cast<unsigned char>(c));
      counted(text_.narrow.size());
      text_.narrow.clear();
    }
    if (text_.wide) {
      text_.wideChars.push_back(code);
    } else {
      text_.narrow.push_back(static_cast<char>(code));
    }
  }

  void addSlice(CDataKind kind, const char* b, const char* e, const char* at) {
    startOrJoin(kind, at);
    const std::size_t n = static_cast<std::size_t>(e - b);
    if (!text_.owned) {
      if (text_.size == 0) {
        text_.begin = b;
        text_.size = n;
        return;
      }
      if (text_.begin + text_.size == b) {
        text_.size += n;
        return;
      }
    }
    appendOwned(std::string_view(b, n));
  }

  void flushText() {
    if (!text_.active) return;
    text_.active = false;
    Label data;
    if (!text_.owned) {
      data = Label(std::string_view(text_.begin, text_.size));
    } else if (text_.wide) {
      data = Label(std::u32string_view(text_.wideChars));
    } else {
      data = Label(std::string_view(text_.narrow));
    }
    events_.text(text_.kind, data, !text_.owned);
    text_.narrow.clear();
    text_.wideChars.clear();
  }

  // ---- Markup.

  void markup() {
    const char* lt = p_;
    if (lt + 1 < end_ && lt[1] == '!') {
      declaration(lt);
      return;
    }
    // White space after "<" does not count; "<" and white space at the very end
    // is nothing.
    const char* s = skipSpace(lt + 1);
    if (s == end_) {
      p_ = end_;
    } else if (*s == '/') {
      endTag(lt, s + 1);
    } else {
      startTag(s);
    }
  }

  void declaration(const char* lt) {
    const char* s = lt + 2;
    if (startsWith(s, "--")) {
      const char* close = findText(s + 2, "-->");
      p_ = close == nullptr ? end_ : close + 3;
      return;
    }
    if (startsWith(s, "[CDATA[")) {
      const char* b = s + 7;
      const char* close = findText(b, "]]>");
      addSlice(CDataKind::CDataVerbatim, b, close == nullptr ? end_ : close, lt);
      p_ = close == nullptr ? end_ : close + 3;
      return;
    }
    // Every "<" opens a level that the next ">" closes, so an internal subset
    // in square brackets stays inside its DOCTYPE.
    std::size_t depth = 1;
    const char* from = s;
    while (s < end_) {
      const char c = *s++;
      if (c == '<') {
        ++depth;
      } else if (c == '>' && --depth == 0) {
        break;
      }
    }
    counted(static_cast<std::uint64_t>(s - from));
    addSlice(CDataKind::CDataRaw, lt, s, lt);
    p_ = s;
  }

  void endTag(const char* lt, const char* afterSlash) {
    const char* nameBegin = skipSpace(afterSlash);
    const char* nameEnd = skipUntil(nameBegin, kClasses.nameStop);
    const bool closed = nameEnd < end_ && *nameEnd == '>';
    // Anything but ">" after the name is read again as ordinary input.
    p_ = closed ? nameEnd + 1 : nameEnd;
    const NameKey key = scope_.keyOf(splitName(nameBegin, nameEnd));
    if (const auto open = open_.innermost(key)) {
      flushText();
      closeDownTo(*open);
      return;
    }
    if (closed && nameBegin == lt + 2) {
      addSlice(CDataKind::CDataText, lt, p_, lt);
    } else {
      startOrJoin(CDataKind::CDataText, lt);
      appendOwned("</");
      appendOwned(std::string_view(nameBegin, static_cast<std::size_t>(nameEnd - nameBegin)));
      appendOwned(">");
    }
    text_.sealed = true;
  }

  void startTag(const char* nameBegin) {
    const char* nameEnd = skipUntil(nameBegin, kClasses.nameStop);
    const Name name = splitName(nameBegin, nameEnd);
    bool hasContent = true;
    p_ = attributes(nameEnd, hasContent);
    const std::size_t scopeMark = scope_.mark();
    for (const LabelAttr& a : attrs_) scope_.declare(a);
    const NameKey key = scope_.keyOf(name);
    flushText();
    events_.startElement(StartTag{name, attrs_, hasContent});
    if (hasContent) {
      open_.open(key, scopeMark);
    } else {
      scope_.undo(scopeMark);
    }
  }

  // Reads the attributes of a start tag into attrs_, up to and including the
  // tag's end; returns where the scan goes on.
  const char* attributes(const char* s, bool& hasContent) {
    rawAttrs_.clear();
    valueBytes_.clear();
    valueCodes_.clear();
    s = skipSpace(s);
    while (s < end_) {
      const char c = *s;
      if (c == '>') {
        ++s;
        break;
      }
      if (c == '/') {
        ++s;
        if (s < end_ && *s == '>') ++s;
        hasContent = false;
        break;
      }
      if (c == '?' && s + 1 < end_ && s[1] == '>') {
        s += 2;
        hasContent = false;
        break;
      }
      s = skipSpace(attribute(s));
    }
    attrs_.clear();
    for (const RawAttr& a : rawAttrs_) attrs_.push_back({a.key, valueOf(a)});
    return s;
  }

  // One attribute: a name, then "=" and a value, quoted or up to white space,
  // ">" or "/". Without "=" the value is empty.
  const char* attribute(const char* s) {
    const char* keyBegin = s;
    s = skipUntil(s, kClasses.nameStop);
    RawAttr attr{splitName(keyBegin, s), RawAttr::Where::Document, s, 0};
    s = skipSpace(s);
    if (s < end_ && *s == '=') {
      s = skipSpace(s + 1);
      const char* vb;
      const char* ve;
      if (s < end_ && (*s == '"' || *s == '\'')) {
        // An unclosed quote takes the rest of the document.
        vb = s + 1;
        ve = findChar(vb, end_, *s);
        s = ve == end_ ? end_ : ve + 1;
      } else {
        vb = s;
        ve = skipUntil(s, kClasses.valueStop);
        s = ve;
      }
      resolveValue(attr, vb, ve);
    }
    rawAttrs_.push_back(attr);
    return s;
  }

  // ---- Attribute values.

  // Where a value's characters are: in the document, or resolved into one of
  // the two scratch buffers shared by all attributes of the tag.
  struct RawAttr {
    enum class Where { Document, Bytes, Codes };
    Name key;
    Where where;
    const char* begin;  // Document
    std::size_t size;
    std::size_t offset = 0;  // Bytes, Codes
  };

  Label valueOf(const RawAttr& a) const {
    switch (a.where) {
      case RawAttr::Where::Document:
        return Label(std::string_view(a.begin, a.size));
      case RawAttr::Where::Bytes:
        return Label(std::string_view(valueBytes_).substr(a.offset, a.size));
      case RawAttr::Where::Codes:
        break;
    }
    return Label(std::u32string_view(valueCodes_).substr(a.offset, a.size));
  }

  // References in a value resolve as in text, but one that does not resolve
  // stays in the value as written.
  void resolveValue(RawAttr& attr, const char* b, const char* e) {
    const char* amp = findChar(b, e, '&');
    if (amp == e) {
      attr = {attr.key, RawAttr::Where::Document, b, static_cast<std::size_t>(e - b)};
      return;
    }
    // The value is in valueBytes_ from start on until it meets a code above 255,
    // then all of it in valueCodes_ from codesStart on. This state stays local:
    // held in members of a helper it cost a tenth of the speed on values full
    // of references.
    const std::size_t start = valueBytes_.size();
    std::size_t codesStart = 0;
    bool wide = false;
    auto appendBytes = [&](const char* from, const char* to) {
      counted(static_cast<std::uint64_t>(to - from));
      if (wide) {
        for (const char* c = from; c < to; ++c)
          valueCodes_.push_back(static_cast<unsigned char>(*c));
      } else {
        valueBytes_.append(from, static_cast<std::size_t>(to - from));
      }
    };
    const char* s = b;
    while (s < e) {
      if (s > b) amp = findChar(s, e, '&');
      const char* semi = amp == e ? e : findChar(amp + 1, e, ';');
      if (semi == e) {
        appendBytes(s, e);
        break;
      }
      appendBytes(s, amp);
      const auto code =
          resolveReference(std::string_view(amp + 1, static_cast<std::size_t>(semi - amp - 1)));
      if (!code) {
        appendBytes(amp, semi + 1);
      } else if (*code <= 255 && !wide) {
        valueBytes_.push_back(static_cast<char>(*code));
      } else {
        if (!wide) {
          wide = true;
          codesStart = valueCodes_.size();
          for (std::size_t i = start; i < valueBytes_.size(); ++i) {
            valueCodes_.push_back(static_cast<unsigned char>(valueBytes_[i]));
          }
          counted(valueBytes_.size() - start);
          valueBytes_.resize(start);
        }
        valueCodes_.push_back(*code);
      }
      s = semi + 1;
    }
    if (wide) {
      attr = {attr.key, RawAttr::Where::Codes, nullptr, valueCodes_.size() - codesStart,
              codesStart};
    } else {
      attr = {attr.key, RawAttr::Where::Bytes, nullptr, valueBytes_.size() - start, start};
    }
  }

  // ---- Open elements.

  void closeDownTo(std::size_t depth) {
    while (open_.depth() > depth) {
      counted(1);
      scope_.undo(open_.close());
      events_.endElement();
    }
  }

  const char* p_;
  const char* const end_;
  Events& events_;

  PendingText text_;

  std::vector<RawAttr> rawAttrs_;
  std::vector<LabelAttr> attrs_;
  std::string valueBytes_;
  std::u32string valueCodes_;

  NamespaceScope scope_;
  OpenElements open_;
};
}  // namespace detail

// Folds the line ends of document in place, then reports its content to events in
// document order:
//   startElement(const StartTag&)                  a start or empty-element tag
//   endElement()                                   the innermost element with content
//                                                  ends (at the latest, with the document)
//   text(CDataKind, Label data, bool stableSlice)  a run of text, pieces of a kind merged
//   reference(std::string_view name)               an unresolved reference's name
//   examined(std::uint64_t units)                  if declared: bytes and elements looked at
// Views last until the next event, but names and stableSlice text are slices of
// document and live as long as it does.
// Document: a std::string or Bytes.
template <class Document, class Events>
void parseXML(Document& document, Events& events) {
  document.resize(foldLineEnds(document.data(), document.size()));
  detail::Scanner<Events> scanner(std::string_view(document.data(), document.size()), events);
  scanner.run();
}

}  // namespace qv
