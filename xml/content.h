// The XML content model: what the lenient reader yields for a document.
//
// A document is a list of Content items; an item is an element, a run of
// character data, or a reference the reader left unresolved. Names and
// reference names are bytes (one character per input byte). Character data,
// attribute values and namespace URIs can hold any code up to 1114111, because
// a numeric reference can produce one, so they are std::u32string.
//
// Elements are move-only and are destroyed without recursion: a document nested
// a million levels deep must not exhaust the stack when its model goes away.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qv {

enum class CDataKind {
  CDataText,      // ordinary character data, references resolved
  CDataVerbatim,  // the inside of a CDATA section, as written
  CDataRaw,       // a "<!...>" declaration, as written
};

struct QName {
  std::string qName;                   // the local name
  std::optional<std::u32string> qURI;  // namespace URI, when one is in scope
  std::optional<std::string> qPrefix;  // the part before the first ":"
};

struct Attr {
  QName attrKey;
  std::u32string attrVal;  // references resolved; unresolved ones kept as "&name;"
};

struct CData {
  CDataKind cdVerbatim = CDataKind::CDataText;
  std::u32string cdData;
  std::optional<std::int64_t> cdLine;  // line where the text starts, from 1
};

// An unresolved reference: the characters between "&" and ";".
struct CRef {
  std::string name;
};

class Content;

struct Element {
  QName elName;
  std::vector<Attr> elAttribs;
  std::vector<Content> elContent;
  std::optional<std::int64_t> elLine;  // line of the start tag, from 1

  Element();
  explicit Element(QName name);
  Element(QName name, std::vector<Attr> attribs, std::vector<Content> content,
          std::optional<std::int64_t> line = std::nullopt);
  Element(Element&&) noexcept;
  Element& operator=(Element&&) noexcept;
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;
  ~Element();
};

// One item: Elem (an Element), Text (a CData) or CRef (a reference name).
class Content {
 public:
  using Value = std::variant<Element, CData, CRef>;

  Content(Element e) : value_(std::move(e)) {}
  Content(CData t) : value_(std::move(t)) {}
  Content(CRef r) : value_(std::move(r)) {}

  bool isElem() const { return value_.index() == 0; }
  bool isText() const { return value_.index() == 1; }
  bool isCRef() const { return value_.index() == 2; }
  // Preconditions: the matching is...() holds.
  const Element& elem() const { return std::get<Element>(value_); }
  Element& elem() { return std::get<Element>(value_); }
  const CData& text() const { return std::get<CData>(value_); }
  const CRef& cref() const { return std::get<CRef>(value_); }
  const Value& value() const { return value_; }

 private:
  Value value_;
};

// A compact one-line form of a content list, for tests: E(name attr="v")[...]
// for elements ({uri} before a name that has one), T"..." for text, V"..." for
// verbatim, D"..." for raw declarations, R"..." for references. With lines,
// each element and text carries "@line" after its letter.
std::string dumpContents(const std::vector<Content>& contents, bool withLines = false);

}  // namespace qv
