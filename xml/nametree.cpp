#include "xml/nametree.h"

#include <memory>

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

void appendEscapedAttrValue(std::string& out, Label value) {
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

bool sameNameTree(const NameTree& a, const NameTree& b) {
  if (a.sizes() != b.sizes()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(a.label(static_cast<NodeIndex>(i)) == b.label(static_cast<NodeIndex>(i)))) return false;
  }
  return true;
}

std::string escapeAttrValue(Label value) {
  std::string out;
  appendEscapedAttrValue(out, value);
  return out;
}

void appendElementLabel(std::string& out, std::optional<std::string_view> prefix,
                        std::string_view local, std::span<const LabelAttr> attrs) {
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
    appendEscapedAttrValue(out, a.value);
    out += '"';
  }
  out += !local.empty() && local.front() == '?' ? " ?>" : " />";
}

namespace {

std::optional<std::string_view> prefixOf(const QName& q) {
  if (!q.qPrefix) return std::nullopt;
  return std::string_view(*q.qPrefix);
}

void appendLabelOf(std::string& out, const Element& e, std::vector<LabelAttr>& attrs) {
  attrs.clear();
  for (const Attr& a : e.elAttribs) {
    attrs.push_back({prefixOf(a.attrKey), a.attrKey.qName, Label(std::u32string_view(a.attrVal))});
  }
  appendElementLabel(out, prefixOf(e.elName), e.elName.qName, attrs);
}

// Text is stored narrow whenever every code fits a byte, as the reader's own
// labels are, so both kinds of tree cost the same.
Label storeText(TextArena& arena, const std::u32string& text) {
  for (const char32_t c : text) {
    if (c > 255) return arena.add(std::u32string_view(text));
  }
  if (text.empty()) return Label();
  char* at = arena.allocate(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) at[i] = static_cast<char>(text[i]);
  return Label(std::string_view(at, text.size()));
}

// Adds the nodes of the non-blank items of a list, each element followed by its
// own content, walking with an explicit stack instead of recursion.
void addForest(TreeBuilder<Label>& builder, TextArena& arena, const std::vector<Content>& items) {
  struct Frame {
    const std::vector<Content>* items;
    std::size_t next;
  };
  std::vector<Frame> stack{{&items, 0}};
  std::string scratch;
  std::vector<LabelAttr> attrs;
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.items->size()) {
      stack.pop_back();
      if (!stack.empty()) builder.close();
      continue;
    }
    const Content& c = (*top.items)[top.next++];
    if (c.isElem()) {
      const Element& e = c.elem();
      scratch.clear();
      appendLabelOf(scratch, e, attrs);
      builder.open(arena.add(scratch));
      stack.push_back({&e.elContent, 0});
    } else if (c.isText()) {
      const std::u32string& data = c.text().cdData;
      if (!isBlankText(Label(std::u32string_view(data)))) builder.leaf(storeText(arena, data));
    } else {
      builder.leaf(arena.add(c.cref().name));
    }
  }
}

NameTree treeOf(const Content& item, const std::shared_ptr<TextArena>& arena) {
  TreeBuilder<Label> builder;
  if (item.isElem()) {
    const Element& e = item.elem();
    builder.open(arena->add(elementLabel(e)));
    addForest(builder, *arena, e.elContent);
  } else if (item.isText()) {
    builder.leaf(storeText(*arena, item.text().cdData));
  } else {
    builder.leaf(arena->add(item.cref().name));
  }
  return std::move(builder).finish(arena);
}

struct RootedStorage {
  std::string path;
  TextArena arena;
};

}  // namespace

std::string elementLabel(const Element& element) {
  std::string out;
  std::vector<LabelAttr> attrs;
  appendLabelOf(out, element, attrs);
  return out;
}

NameTree nameTreeOf(std::string inputPath, const std::vector<Content>& contents) {
  auto storage = std::make_shared<RootedStorage>();
  storage->path = std::move(inputPath);
  TreeBuilder<Label> builder;
  builder.open(Label(storage->path));
  addForest(builder, storage->arena, contents);
  return std::move(builder).finish(storage);
}

std::vector<NameTree> contentsToForest(const std::vector<Content>& contents) {
  auto arena = std::make_shared<TextArena>();
  std::vector<NameTree> forest;
  for (const Content& c : contents) {
    if (c.isText() && isBlankText(Label(std::u32string_view(c.text().cdData)))) continue;
    forest.push_back(treeOf(c, arena));
  }
  return forest;
}

NameTree contentToTree(const Content& item) {
  return treeOf(item, std::make_shared<TextArena>());
}

}  // namespace qv
