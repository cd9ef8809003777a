#include "diag/diag.h"

#include <limits>
#include <string_view>
#include <type_traits>

#include "diag/quote.h"

namespace qv {

std::string showFlag(const Flag& flag) {
  switch (flag.kind) {
    case Flag::Kind::Verbose:
      return "Verbose";
    case Flag::Kind::MaxName:
      return "MaxName " + quotedText(flag.text);
    case Flag::Kind::Output:
      break;
  }
  return "Output " + quotedText(flag.text);
}

namespace {

template <class T, class F>
void showList(Output& out, const std::vector<T>& items, F&& show) {
  std::string line = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) line += ',';
    line += show(items[i]);
  }
  line += "]\n";
  out.write(line);
}

// Calls line(prefix, connector, label) for every line of the drawing, top to
// bottom. The prefix holds one three-character column per open ancestor.
template <class F>
void forEachLine(const LabelTree& tree, F&& line) {
  struct Frame {
    NodeIndex next, end;
  };
  std::string prefix;
  std::vector<Frame> stack;
  line(std::string_view(prefix), std::string_view(), tree.label(0));
  stack.push_back({1, tree.subtreeSize(0)});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.end) {
      stack.pop_back();
      if (!stack.empty()) prefix.resize(prefix.size() - 3);
      continue;
    }
    const NodeIndex child = top.next;
    top.next += tree.subtreeSize(child);
    const bool last = top.next == top.end;
    line(std::string_view(prefix), std::string_view(), Label("|"));
    line(std::string_view(prefix), std::string_view(last ? "`- " : "+- "), tree.label(child));
    if (!tree.isLeaf(child)) {
      prefix += last ? "   " : "|  ";
      stack.push_back({child + 1, child + tree.subtreeSize(child)});
    }
  }
}

template <class Out>
void putUtf8(Out& out, char32_t c) {
  if (c < 0x800) {
    out.put(static_cast<char>(0xC0 | (c >> 6)));
  } else if (c < 0x10000) {
    out.put(static_cast<char>(0xE0 | (c >> 12)));
    out.put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
  } else {
    out.put(static_cast<char>(0xF0 | (c >> 18)));
    out.put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
  }
  out.put(static_cast<char>(0x80 | (c & 0x3F)));
}

template <class Out>
void writeLabel(Out& out, Label label) {
  if (!label.wide()) {
    out.write(label.narrow());
    return;
  }
  label.visit([&](auto codes) {
    auto encode = [&](auto& to) {
      for (const char32_t c : codes) {
        if (c < 256) {
          to.put(static_cast<char>(c));
        } else {
          putUtf8(to, c);
        }
      }
    };
    // Four bytes at most a code: at once where the buffer has room for that.
    if constexpr (std::is_same_v<Out, Output>) {
      if (codes.size() < std::numeric_limits<std::size_t>::max() / 4) {
        if (char* at = out.room(codes.size() * 4)) {
          Room room{at};
          encode(room);
          return out.commit(room.p);
        }
      }
    }
    encode(out);
  });
}

bool isShownVisibly(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
}

// The label's bytes, as writeLabel writes them, with their control characters shown.
void writeVisibly(Output& out, Label label) {
  std::string bytes;
  StringOutput encoded(bytes);
  writeLabel(encoded, label);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const auto next = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    if (isShownVisibly(c)) {
      out.put('^');
      out.put(static_cast<char>(c ^ 0x40));  // DEL reads "^?"
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      constexpr char kHex[] = "0123456789ABCDEF";
      const char code[] = {'<', 'U', '+', '0', '0', kHex[next >> 4], kHex[next & 15], '>'};
      out.write(std::string_view(code, sizeof code));
      ++i;
    } else {
      out.put(static_cast<char>(c));
    }
  }
}

}  // namespace

void showFlags(Output& out, const std::vector<Flag>& flags) {
  showList(out, flags, showFlag);
}

void showPositionals(Output& out, const std::vector<std::string>& positionals) {
  showList(out, positionals, [](const std::string& p) { return quotedText(p); });
}

void showTree(Output& out, const LabelTree& tree, bool visibleControls) {
  forEachLine(tree, [&](std::string_view prefix, std::string_view connector, Label label) {
    out.write(prefix);
    out.write(connector);
    if (visibleControls) {
      writeVisibly(out, label);
    } else {
      writeLabel(out, label);
    }
    out.put('\n');
  });
  out.put('\n');
}

}  // namespace qv
