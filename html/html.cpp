#include "html/html.h"

#include <cstring>

#include <algorithm>
#include <charconv>

#include "tree/error.h"

namespace qv {

// ---- Nodes: copy, compare and destroy with explicit stacks ----

namespace {

HtmlNode::Value shallowCopy(const HtmlNode& node) {
  if (const HtmlString* s = node.string()) return *s;
  const HtmlTag& t = *node.tag();
  return HtmlTag{t.tagName, t.tagAttrs, {}};
}

}  // namespace

HtmlNode::HtmlNode(const HtmlNode& other) : v_(shallowCopy(other)) {
  const HtmlTag* src = other.tag();
  if (src == nullptr || src->tagContent.empty()) return;
  std::vector<std::pair<const HtmlFragment*, HtmlFragment*>> pending;
  pending.emplace_back(&src->tagContent, &std::get<HtmlTag>(v_).tagContent);
  while (!pending.empty()) {
    const auto [from, to] = pending.back();
    pending.pop_back();
    // Reserved, so the content vectors of the nodes pushed below stay where they are.
    to->reserve(from->size());
    for (const HtmlNode& n : *from) {
      HtmlNode copy(HtmlString{});
      copy.v_ = shallowCopy(n);
      to->push_back(std::move(copy));
      const HtmlTag* t = n.tag();
      if (t != nullptr && !t->tagContent.empty()) {
        pending.emplace_back(&t->tagContent, &std::get<HtmlTag>(to->back().v_).tagContent);
      }
    }
  }
}

HtmlNode& HtmlNode::operator=(const HtmlNode& other) {
  if (this != &other) {
    HtmlNode copy(other);
    *this = std::move(copy);
  }
  return *this;
}

HtmlNode& HtmlNode::operator=(HtmlNode&& other) noexcept {
  if (this != &other) {
    // The old value goes through the destructor below, never through the variant's.
    HtmlNode old(std::move(*this));
    v_ = std::move(other.v_);
  }
  return *this;
}

HtmlNode::~HtmlNode() {
  HtmlTag* t = std::get_if<HtmlTag>(&v_);
  if (t == nullptr || t->tagContent.empty()) return;
  // Each fragment is emptied of nested content before it dies, so no node's
  // destruction reaches further than its direct children.
  std::vector<HtmlFragment> pending;
  pending.push_back(std::move(t->tagContent));
  while (!pending.empty()) {
    HtmlFragment f = std::move(pending.back());
    pending.pop_back();
    for (HtmlNode& n : f) {
      HtmlTag* c = std::get_if<HtmlTag>(&n.v_);
      if (c != nullptr && !c->tagContent.empty()) pending.push_back(std::move(c->tagContent));
    }
  }
}

HtmlNode::Value HtmlNode::release() && {
  Value v = std::move(v_);
  v_ = HtmlString{};
  return v;
}

bool operator==(const HtmlNode& a, const HtmlNode& b) {
  std::vector<std::pair<const HtmlNode*, const HtmlNode*>> pending{{&a, &b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (x->v_.index() != y->v_.index()) return false;
    if (const HtmlString* s = x->string()) {
      if (s->text != y->string()->text) return false;
      continue;
    }
    const HtmlTag& s = *x->tag();
    const HtmlTag& t = *y->tag();
    if (s.tagName != t.tagName || s.tagAttrs != t.tagAttrs ||
        s.tagContent.size() != t.tagContent.size()) {
      return false;
    }
    for (std::size_t i = 0; i < s.tagContent.size(); ++i) {
      pending.emplace_back(&s.tagContent[i], &t.tagContent[i]);
    }
  }
  return true;
}

bool isValidHtmlITag(std::string_view name) {
  return std::find(validHtmlITags.begin(), validHtmlITags.end(), name) != validHtmlITags.end();
}

// ---- Builders ----

HtmlFragment element(std::string name, std::vector<HtmlAttr> attrs, HtmlFragment content) {
  HtmlFragment f;
  f.push_back(HtmlNode(HtmlTag{std::move(name), std::move(attrs), std::move(content)}));
  return f;
}

HtmlFragment rawText(std::string text) {
  HtmlFragment f;
  f.push_back(HtmlNode(HtmlString{std::move(text)}));
  return f;
}

HtmlFragment concatFragments(std::vector<HtmlFragment> fragments) {
  std::size_t n = 0;
  for (const HtmlFragment& f : fragments) n += f.size();
  HtmlFragment out;
  out.reserve(n);
  for (HtmlFragment& f : fragments) {
    for (HtmlNode& node : f) out.push_back(std::move(node));
  }
  return out;
}

HtmlFragment withAttrs(HtmlFragment fragment, const std::vector<HtmlAttr>& attrs) {
  if (attrs.empty()) return fragment;
  for (HtmlNode& node : fragment) {
    if (node.tag() == nullptr) continue;
    HtmlTag t = std::get<HtmlTag>(std::move(node).release());
    t.tagAttrs.insert(t.tagAttrs.end(), attrs.begin(), attrs.end());
    node = HtmlNode(std::move(t));
  }
  return fragment;
}

namespace {

std::string_view entityOf(unsigned char c) {
  switch (c) {
    case '"':
      return "&quot;";
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    default:
      return {};
  }
}

// What a character of a label line becomes: an entity, "&nbsp;", or itself (empty).
constexpr std::array<std::string_view, 256> kLineReplacement = [] {
  std::array<std::string_view, 256> r{};
  r['"'] = "&quot;";
  r['&'] = "&amp;";
  r['<'] = "&lt;";
  r['>'] = "&gt;";
  r[' '] = "&nbsp;";
  return r;
}();

}  // namespace

std::string escapeHtmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const std::string_view e = entityOf(static_cast<unsigned char>(c));
    if (e.empty()) {
      out += c;
    } else {
      out += e;
    }
  }
  return out;
}

std::string spacesToNbsp(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ') {
      out += "&nbsp;";
    } else {
      out += c;
    }
  }
  return out;
}

HtmlFragment linesToHtml(const std::vector<std::string>& lines) {
  HtmlFragment f;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) f.push_back(HtmlNode(HtmlTag{"BR", {}, {}}));
    f.push_back(HtmlNode(HtmlString{spacesToNbsp(escapeHtmlText(lines[i]))}));
  }
  return f;
}

void writeEscapedLine(Output& out, std::span<const unsigned char> chars) {
  // Labels can be very long: copy the runs between replacements in bulk.
  const char* p = reinterpret_cast<const char*>(chars.data());
  std::size_t start = 0;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const std::string_view r = kLineReplacement[chars[i]];
    if (r.empty()) continue;
    out.write(std::string_view(p + start, i - start));
    out.write(r);
    start = i + 1;
  }
  out.write(std::string_view(p + start, chars.size() - start));
}

void writeEscapedLine(Output& out, std::span<const char32_t> chars) {
  for (const char32_t c : chars) {
    if (c > 0xFF) {
      char digits[16];
      const auto end =
          std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(c)).ptr;
      out.write("&#");
      out.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
      out.put(';');
    } else if (const std::string_view r = kLineReplacement[c]; !r.empty()) {
      out.write(r);
    } else {
      out.put(static_cast<char>(c));
    }
  }
}

// ---- Block tables of cell fragments ----

BlockTable<HtmlFragment> tableCell(HtmlFragment cell) {
  return single(std::move(cell));
}

HtmlFragment tableRows(BlockTable<HtmlFragment> table) {
  HtmlFragment out;
  out.reserve(static_cast<std::size_t>(table.height()));
  std::move(table).drainRows([&](std::span<BlockCell<HtmlFragment>> row) {
    std::vector<HtmlFragment> cells;
    cells.reserve(row.size());
    for (BlockCell<HtmlFragment>& c : row) {
      std::vector<HtmlAttr> spans;
      if (c.colSpan != 1) spans.push_back({"COLSPAN", std::to_string(c.colSpan)});
      if (c.rowSpan != 1) spans.push_back({"ROWSPAN", std::to_string(c.rowSpan)});
      cells.push_back(withAttrs(std::move(c.payload), spans));
    }
    HtmlFragment tr = element("TR", {}, concatFragments(std::move(cells)));
    out.push_back(std::move(tr.front()));
  });
  return out;
}

HtmlFragment rowsTable(const std::vector<HtmlAttr>& tableAttrs,
                       const std::vector<HtmlAttr>& cellAttrs,
                       std::vector<std::vector<HtmlFragment>> rows) {
  std::vector<BlockTable<HtmlFragment>> rowTables;
  rowTables.reserve(rows.size());
  for (std::vector<HtmlFragment>& row : rows) {
    std::vector<BlockTable<HtmlFragment>> cells;
    cells.reserve(row.size());
    for (HtmlFragment& c : row) {
      cells.push_back(tableCell(withAttrs(element("TD", {}, std::move(c)), cellAttrs)));
    }
    rowTables.push_back(besides(std::move(cells)));
  }
  return withAttrs(element("TABLE", {}, tableRows(aboves(std::move(rowTables)))), tableAttrs);
}

// ---- Streaming ----

namespace {

std::string_view attrName(const HtmlAttr& a) {
  return a.attrName;
}
std::string_view attrName(const AttrRef& a) {
  return a.name;
}
std::string_view attrValue(const HtmlAttr& a) {
  return a.attrValue;
}
std::string_view attrValue(const AttrRef& a) {
  return a.value;
}

// What ends every tag: a line break, the indentation and ">". A page writes it
// before every ">", so the common case fills the buffer in one go; deep pages
// indent by megabytes, and those go out in bulk.
void writeTagEnd(Output& out, std::size_t indent) {
  const std::size_t tabs = indent / 8;
  const std::size_t spaces = indent % 8;
  if (char* p = out.claim(tabs + spaces + 2)) {
    *p++ = '\n';
    std::memset(p, '\t', tabs);
    std::memset(p + tabs, ' ', spaces);
    p[tabs + spaces] = '>';
    return;
  }
  out.put('\n');
  out.fill('\t', tabs);
  out.fill(' ', spaces);
  out.put('>');
}

template <class Attrs>
void writeOpeningTag(Output& out, std::string_view name, const Attrs& attrs, std::size_t indent) {
  out.put('<');
  out.write(name);
  for (const auto& a : attrs) {
    out.put(' ');
    out.write(attrName(a));
    out.write(" = \"");
    out.write(attrValue(a));
    out.put('"');
  }
  writeTagEnd(out, indent);
}

void writeClosingTag(Output& out, std::string_view name, std::size_t indent) {
  out.write("</");
  out.write(name);
  writeTagEnd(out, indent);
}

}  // namespace

template <class Attrs>
void HtmlWriter::openWith(std::string_view name, const Attrs& attrs) {
  markContent();
  writeOpeningTag(out_, name, attrs, indent_ + 2 * open_.size());
  open_.push_back(Open{names_.size(), false});
  names_.append(name);
}

void HtmlWriter::open(std::string_view name, std::span<const AttrRef> attrs) {
  openWith(name, attrs);
}

void HtmlWriter::open(std::string_view name, std::span<const HtmlAttr> attrs) {
  openWith(name, attrs);
}

void HtmlWriter::close() {
  if (open_.empty()) throw Error::program("HtmlWriter: close without an open element");
  const Open o = open_.back();
  open_.pop_back();
  const std::string_view name(names_.data() + o.nameStart, names_.size() - o.nameStart);
  if (o.hasContent || !isValidHtmlITag(name))
    writeClosingTag(out_, name, indent_ + 2 * open_.size());
  names_.resize(o.nameStart);
}

void FragmentBuilder::open(std::string_view name, std::span<const AttrRef> attrs) {
  HtmlTag t{std::string(name), {}, {}};
  t.tagAttrs.reserve(attrs.size());
  for (const AttrRef& a : attrs) t.tagAttrs.push_back({std::string(a.name), std::string(a.value)});
  open_.push_back(std::move(t));
}

void FragmentBuilder::open(std::string_view name, std::span<const HtmlAttr> attrs) {
  open_.push_back(HtmlTag{std::string(name), {attrs.begin(), attrs.end()}, {}});
}

void FragmentBuilder::close() {
  if (open_.empty()) throw Error::program("FragmentBuilder: close without an open element");
  HtmlTag t = std::move(open_.back());
  open_.pop_back();
  add(HtmlNode(std::move(t)));
}

void FragmentBuilder::add(HtmlNode node) {
  (open_.empty() ? top_ : open_.back().tagContent).push_back(std::move(node));
}

HtmlFragment FragmentBuilder::finish() && {
  while (!open_.empty()) close();
  return std::move(top_);
}

namespace {

void writeNodes(HtmlWriter& writer, const HtmlNode* begin, const HtmlNode* end) {
  struct Frame {
    const HtmlNode* next;
    const HtmlNode* end;
  };
  std::vector<Frame> frames{{begin, end}};
  while (true) {
    Frame& f = frames.back();
    if (f.next == f.end) {
      frames.pop_back();
      if (frames.empty()) return;
      writer.close();
      continue;
    }
    const HtmlNode& n = *f.next++;
    if (const HtmlString* s = n.string()) {
      writer.text(s->text);
    } else {
      const HtmlTag& t = *n.tag();
      writer.open(t.tagName, std::span<const HtmlAttr>(t.tagAttrs));
      frames.push_back({t.tagContent.data(), t.tagContent.data() + t.tagContent.size()});
    }
  }
}

}  // namespace

void writeFragment(HtmlWriter& writer, const HtmlFragment& fragment) {
  writeNodes(writer, fragment.data(), fragment.data() + fragment.size());
}

void beginDocument(HtmlWriter& writer) {
  if (writer.depth() != 0) throw Error::program("beginDocument: elements already open");
  writer.output().write(renderMessage());
  writer.open("HTML");
}

void endDocument(HtmlWriter& writer) {
  writer.close();
  writer.output().put('\n');
}

void writeDocument(Output& out, const HtmlFragment& content) {
  HtmlWriter writer(out);
  beginDocument(writer);
  writeFragment(writer, content);
  endDocument(writer);
}

// ---- Text forms ----

std::string_view renderMessage() {
  return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 FINAL//EN\">\n"
         "<!--Rendered using the Morvane Html Library v0.2-->\n";
}

std::string renderTag(TagKind kind, std::string_view name, const std::vector<HtmlAttr>& attrs,
                      std::size_t indent) {
  return collect([&](Output& out) {
    if (kind == TagKind::Opening) {
      writeOpeningTag(out, name, attrs, indent);
    } else {
      writeClosingTag(out, name, indent);
    }
  });
}

std::string renderHtml(std::size_t indent, const HtmlNode& node) {
  return collect([&](Output& out) {
    HtmlWriter writer(out, indent);
    writeNodes(writer, &node, &node + 1);
  });
}

std::vector<std::string> prettyHtml(const HtmlNode& node) {
  auto oneLine = [](std::string tag) {
    std::erase(tag, '\n');
    return tag;
  };
  struct Frame {
    const HtmlNode* next;
    const HtmlNode* end;
    const HtmlTag* tag;
  };
  std::vector<std::string> lines;
  std::vector<Frame> frames;
  auto visit = [&](const HtmlNode& n) {
    std::string line(3 * frames.size(), ' ');
    if (const HtmlString* s = n.string()) {
      lines.push_back(line + s->text);
      return;
    }
    const HtmlTag& t = *n.tag();
    lines.push_back(line + oneLine(renderTag(TagKind::Opening, t.tagName, t.tagAttrs, 0)));
    if (!t.tagContent.empty() || !isValidHtmlITag(t.tagName)) {
      frames.push_back({t.tagContent.data(), t.tagContent.data() + t.tagContent.size(), &t});
    }
  };
  visit(node);
  while (!frames.empty()) {
    Frame& f = frames.back();
    if (f.next == f.end) {
      const HtmlTag* t = f.tag;
      frames.pop_back();
      lines.push_back(std::string(3 * frames.size(), ' ') + "</" + t->tagName + ">");
      continue;
    }
    visit(*f.next++);
  }
  return lines;
}

std::string renderDocument(const HtmlFragment& content) {
  return collect([&](Output& out) { writeDocument(out, content); });
}

}  // namespace qv
