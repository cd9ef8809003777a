// The HTML element model of the page and its exact serialisation.
//
// A fragment is an ordered list of nodes; a node is raw text (written verbatim)
// or an element with attributes and content. Text is escaped when it is built
// (linesToHtml), never when it is written. Serialisation puts a line break and
// indentation (tabs for each 8, then spaces) inside every tag just before its
// ">", and writes the elements of validHtmlITags without an end tag when empty.
//
// Pages are far larger than their documents and nest as deep, so nothing here
// recurses on depth: nodes copy, compare and destroy with explicit stacks, and
// HtmlWriter streams the bytes of a page as events (open/text/close) into an
// Output. FragmentBuilder takes the same events and builds a fragment instead, so
// one emitter can produce either.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "html/block_table.h"
#include "tree/output.h"

namespace qv {

struct HtmlAttr {
  std::string attrName;
  std::string attrValue;
  friend bool operator==(const HtmlAttr&, const HtmlAttr&) = default;
};

class HtmlNode;
using HtmlFragment = std::vector<HtmlNode>;

struct HtmlString {
  std::string text;
};

struct HtmlTag {
  std::string tagName;
  std::vector<HtmlAttr> tagAttrs;
  HtmlFragment tagContent;
};

class HtmlNode {
 public:
  using Value = std::variant<HtmlString, HtmlTag>;

  HtmlNode(HtmlString s) : v_(std::move(s)) {}
  HtmlNode(HtmlTag t) : v_(std::move(t)) {}
  HtmlNode(const HtmlNode& other);
  HtmlNode(HtmlNode&& other) noexcept = default;
  HtmlNode& operator=(const HtmlNode& other);
  HtmlNode& operator=(HtmlNode&& other) noexcept;
  ~HtmlNode();

  const Value& value() const { return v_; }
  // Null when the node is the other alternative.
  const HtmlTag* tag() const { return std::get_if<HtmlTag>(&v_); }
  const HtmlString* string() const { return std::get_if<HtmlString>(&v_); }
  // Moves the value out (builders reuse nodes they own); leaves an empty text.
  Value release() &&;

  friend bool operator==(const HtmlNode& a, const HtmlNode& b);

 private:
  Value v_;
};

// Element names written without an end tag when their content is empty.
inline constexpr std::array<std::string_view, 9> validHtmlITags = {
    "AREA", "BASEFONT", "BR", "HR", "IMG", "INPUT", "META", "PARAM", "BASE"};
bool isValidHtmlITag(std::string_view name);

// ---- Builders (pure) ----

// A one-node fragment holding the element.
HtmlFragment element(std::string name, std::vector<HtmlAttr> attrs, HtmlFragment content);
// A one-node fragment holding the raw text.
HtmlFragment rawText(std::string text);
HtmlFragment concatFragments(std::vector<HtmlFragment> fragments);
// Appends attrs to the attributes of every top-level element; text nodes and nested content
// are unchanged.
HtmlFragment withAttrs(HtmlFragment fragment, const std::vector<HtmlAttr>& attrs);
// '"' '&' '<' '>' become entities; every other byte is copied.
std::string escapeHtmlText(std::string_view text);
// Every space becomes "&nbsp;".
std::string spacesToNbsp(std::string_view text);
// Each line escaped and spaced as above, with an empty "BR" element between lines.
HtmlFragment linesToHtml(const std::vector<std::string>& lines);
// Writes one line as linesToHtml gives it (escaped, then spaces as "&nbsp;"). Codes above 255
// cannot be one byte and are written as "&#N;".
void writeEscapedLine(Output& out, std::span<const unsigned char> chars);
void writeEscapedLine(Output& out, std::span<const char32_t> chars);

// ---- Block tables of cell fragments ----

// A one-cell table; when written the fragment gets COLSPAN and ROWSPAN attributes for spans
// other than 1.
BlockTable<HtmlFragment> tableCell(HtmlFragment cell);
// One "TR" element per row of the table, cells left to right.
HtmlFragment tableRows(BlockTable<HtmlFragment> table);
// A "TABLE" element with tableAttrs; each cell becomes a "TD" with cellAttrs (then COLSPAN when
// its row is shorter than the widest). Fails with "aboves []" for no rows, "besides []" for an
// empty row.
HtmlFragment rowsTable(const std::vector<HtmlAttr>& tableAttrs,
                       const std::vector<HtmlAttr>& cellAttrs,
                       std::vector<std::vector<HtmlFragment>> rows);

// ---- Streaming ----

struct AttrRef {
  std::string_view name;
  std::string_view value;
};

// Writes the bytes of HTML events into out, exactly as renderHtml would write the nodes they
// describe at the given starting indentation.
class HtmlWriter {
 public:
  explicit HtmlWriter(Output& out, std::size_t indent = 0) : out_(out), indent_(indent) {}
  HtmlWriter(const HtmlWriter&) = delete;
  HtmlWriter& operator=(const HtmlWriter&) = delete;

  void open(std::string_view name) { open(name, std::span<const AttrRef>()); }
  void open(std::string_view name, std::span<const AttrRef> attrs);
  void open(std::string_view name, std::span<const HtmlAttr> attrs);
  // One text node, written verbatim.
  void text(std::string_view raw) {
    markContent();
    out_.write(raw);
  }
  // One text node whose bytes write(Output&) appends.
  template <class F>
  void textWith(F&& write) {
    markContent();
    write(out_);
  }
  // Closes the innermost open element.
  void close();
  // Number of elements open.
  std::size_t depth() const { return open_.size(); }
  Output& output() { return out_; }

 private:
  struct Open {
    std::size_t nameStart;
    bool hasContent;
  };
  void markContent() {
    if (!open_.empty()) open_.back().hasContent = true;
  }
  template <class Attrs>
  void openWith(std::string_view name, const Attrs& attrs);
  Output& out_;
  std::size_t indent_;
  std::vector<Open> open_;
  std::string names_;  // names of the open elements, back to back
};

// Takes the events of HtmlWriter and builds the fragment they describe.
class FragmentBuilder {
 public:
  void open(std::string_view name) { open(name, std::span<const AttrRef>()); }
  void open(std::string_view name, std::span<const AttrRef> attrs);
  void open(std::string_view name, std::span<const HtmlAttr> attrs);
  void text(std::string_view raw) { add(HtmlNode(HtmlString{std::string(raw)})); }
  template <class F>
  void textWith(F&& write) {
    add(HtmlNode(HtmlString{collect(std::forward<F>(write))}));
  }
  void close();
  std::size_t depth() const { return open_.size(); }
  // Closes every element still open.
  HtmlFragment finish() &&;

 private:
  void add(HtmlNode node);
  HtmlFragment top_;
  std::vector<HtmlTag> open_;
};

// Writes the events of every node of the fragment.
void writeFragment(HtmlWriter& writer, const HtmlFragment& fragment);
// The preamble and the opening "HTML" tag; the writer must be fresh at indentation 0.
void beginDocument(HtmlWriter& writer);
// Closes the "HTML" element and ends the page with a line feed.
void endDocument(HtmlWriter& writer);
// beginDocument, the fragment, endDocument.
void writeDocument(Output& out, const HtmlFragment& content);

// ---- Text forms ----

enum class TagKind { Opening, Closing };

// The two preamble lines of every page.
std::string_view renderMessage();
// One tag; a closing tag ignores attrs.
std::string renderTag(TagKind kind, std::string_view name, const std::vector<HtmlAttr>& attrs,
                      std::size_t indent);
// The node and everything inside it, the node's tags at indent.
std::string renderHtml(std::size_t indent, const HtmlNode& node);
// Line-oriented form: tags without line breaks, nested content prefixed by three spaces a level.
std::vector<std::string> prettyHtml(const HtmlNode& node);
// The whole page: preamble, one "HTML" element holding content, a final line feed.
std::string renderDocument(const HtmlFragment& content);

}  // namespace qv
