// Writes the pinned corpus, a few hundred documents whose drawing and page
// tests/golden/run.sh checks against recorded digests: quiltview_corpus DIR.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The same draws on every compiler and library: seeded by the document's number,
// no library distribution (their results differ between standard libraries), and
// never two draws in one expression (argument order differs between compilers).
struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
  template <class T>
  const T& pick(const std::vector<T>& v) {
    return v[below(v.size())];
  }
};

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// The lists are data, packed by hand.
// clang-format off
const std::vector<std::string> kNames = {
    "a", "b", "item", "p:x", "q:x", "?pi", "x-y", "", "r"};
const std::vector<std::string> kWords = {
    "word", " ", "  lead", "tail  ", "\t", "\n", "\r\n", "\r", "\xA0", "caf\xC3\xA9", "<", ">",
    "&amp;", "&lt;", "&#65;", "&#x3C0;", "&#1114111;", "&#1114112;", "&nbsp;", "&;", "& b", "\"",
    "'", "a\nb\n", "\x01\x7F\xFF", "1 < 2"};
const std::vector<std::string> kValues = {
    "1", "", "a b", "x &amp; y", "&nope;", "&#9;", "\"", "q'q", "line\nfeed", "\xC3\xA9",
    "&#x20AC;", "<>"};
const std::vector<std::string> kTokens = {
    "<", ">", "</", "/>", "?>", "<?", "<!", "<!--", "-->", "<![CDATA[", "]]>", "<!DOCTYPE d [",
    "]>", "=", "\"", "'", ":", "&", ";", "&lt;", "&#", "&#x", "&#160;", "xmlns", "xmlns:p=\"u\"",
    "xmlns=\"\"", "\r\n", "\r", "\xA0", "\t", " ", "a", "b", "p:a", "text", "<a>", "</a>", "<b/>",
    "</b>", "<p:a xmlns:p='u'>", "</q:a>", "<?xml version='1.0'?>", "\n"};
// clang-format on

std::string attributes(Random& r) {
  std::string out;
  const std::size_t n = r.below(4);
  for (std::size_t i = 0; i < n; ++i) {
    out += ' ';
    out += r.pick(kNames);
    if (r.chance(80)) {
      const char quote = r.chance(70) ? '"' : '\'';
      out += '=';
      out += quote;
      out += r.pick(kValues);
      out += quote;
    }
  }
  return out;
}

// A random element tree of realistic markup: attributes, text, references,
// comments, CDATA, instructions, and now and then a wrong or missing end tag.
std::string mixed(Random& r, std::size_t events) {
  std::string out = r.chance(50) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
  std::vector<std::string> open;
  for (std::size_t i = 0; i < events; ++i) {
    switch (r.below(9)) {
      case 0:
      case 1: {
        const std::string& name = r.pick(kNames);
        const bool empty = r.chance(25);
        const std::string attrs = attributes(r);
        out += "<" + name + attrs + (empty ? "/>" : ">");
        if (out.back() == '>' && out[out.size() - 2] != '/') open.push_back(name);
        break;
      }
      case 2:
      case 3:
        if (!open.empty()) {
          out += "</" + (r.chance(90) ? open.back() : r.pick(kNames)) + ">";
          open.pop_back();
        }
        break;
      case 4:
        out += "<!-- " + r.pick(kWords) + " -->";
        break;
      case 5:
        out += "<![CDATA[" + r.pick(kWords) + "]]>";
        break;
      default:
        out += r.pick(kWords);
    }
  }
  if (r.chance(70)) {
    while (!open.empty()) {
      out += "</" + open.back() + ">";
      open.pop_back();
    }
  }
  return out;
}

std::string wide(Random& r) {
  const std::size_t n = 1 + r.below(r.chance(20) ? 4000 : 120);
  std::string out = "<root>";
  for (std::size_t i = 0; i < n; ++i) {
    switch (r.below(4)) {
      case 0:
        out += "<e/>";
        break;
      case 1: {
        const std::string attrs = attributes(r);
        const std::string name = repeat("n", 1 + r.below(12));
        out += '<';
        out += name;
        out += attrs;
        out += "/>";
        break;
      }
      case 2: {
        const std::string lines = repeat("\n", r.below(4));
        out += repeat("t", 1 + r.below(20));
        out += lines;
        out += "<br/>";
        break;
      }
      default:
        out += "&r" + std::to_string(r.below(1000)) + ";";
    }
  }
  return out + "</root>";
}

std::string deep(Random& r) {
  const std::size_t depth = 1 + r.below(r.chance(10) ? 1500 : 200);
  std::string out;
  for (std::size_t i = 0; i < depth; ++i) {
    out += "<" + r.pick(kNames) + ">";
    if (r.chance(20)) out += r.pick(kWords) + "<leaf/>";
  }
  // Half the chains are closed by name, half left open to the end.
  if (r.chance(50)) out += repeat("</a>", depth);
  return out;
}

std::string namespaces(Random& r) {
  const std::vector<std::string> prefixes = {"p", "q", "xmlns", "xml", ""};
  const std::vector<std::string> uris = {"u", "v", "", "\xC3\xA9", "&#x3C0;"};
  std::string out;
  std::vector<std::string> open;
  for (std::size_t i = 0, n = 5 + r.below(60); i < n; ++i) {
    if (!open.empty() && r.chance(40)) {
      // Another prefix bound to the same URI closes the element all the same.
      out += "</" + (r.chance(50) ? open.back() : r.pick(prefixes) + ":e") + ">";
      open.pop_back();
      continue;
    }
    const std::string p = r.pick(prefixes);
    const std::string name = p.empty() ? "e" : p + ":e";
    out += "<" + name;
    if (r.chance(50)) {
      const std::string& uri = r.pick(uris);
      out += " xmlns:" + r.pick(prefixes) + "='" + uri + "'";
    }
    if (r.chance(30)) out += " xmlns='" + r.pick(uris) + "'";
    out += r.chance(20) ? "/>" : ">";
    if (out.back() == '>' && out[out.size() - 2] != '/') open.push_back(name);
    if (r.chance(30)) out += r.pick(kWords);
  }
  return out;
}

std::string soup(Random& r) {
  std::string out;
  for (std::size_t i = 0, n = r.below(400); i < n; ++i) out += r.pick(kTokens);
  return out;
}

std::string binary(Random& r) {
  std::string out;
  for (std::size_t i = 0, n = r.below(3000); i < n; ++i) {
    out += r.chance(5) ? '<' : static_cast<char>(r.below(256));
  }
  return out;
}

// The reader's hostile shapes, small enough that their pages stay small.
std::vector<std::string> hostile() {
  return {repeat("<a>", 300) + repeat("</b>", 300),
          repeat("<a><b>", 150) + repeat("</a>", 150),
          repeat("&", 5000),
          repeat("&", 5000) + ";",
          "<a k='" + repeat("&", 5000) + "'>",
          repeat("<a k=&&&&&&&&&&&&>", 200),
          "<a k=\"" + repeat("x", 5000),
          repeat("<!--", 2000),
          "<!--" + repeat("-", 5000),
          repeat("<![CDATA[", 2000),
          repeat("<!", 2000),
          repeat("<!", 1000) + repeat(">", 1000),
          std::string("<") + repeat(" ", 5000) + "a>",
          repeat("< ", 2000),
          repeat("&lt;x", 2000),
          repeat("&#960;", 2000),
          repeat("</x y='1'>", 1000),
          repeat("<p:a xmlns:p='u' xmlns='v'>", 200) + repeat("</p:a>", 200)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quiltview_corpus DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name + ".xml", std::ios::binary) << text;
  };
  using Shape = std::string (*)(Random&);
  const std::vector<std::pair<std::string, Shape>> shapes = {
      {"mixed-small", [](Random& r) { return mixed(r, 1 + r.below(40)); }},
      {"mixed-large", [](Random& r) { return mixed(r, 200 + r.below(3000)); }},
      {"wide", wide},
      {"deep", deep},
      {"namespaces", namespaces},
      {"soup", soup},
      {"binary", binary}};
  std::uint64_t seed = 1;
  for (const auto& [name, shape] : shapes) {
    for (int i = 0; i < 40; ++i) {
      Random r{seed++};
      char number[8];
      std::snprintf(number, sizeof number, "%03d", i);
      write(name + "-" + number, shape(r));
    }
  }
  const std::vector<std::string> h = hostile();
  for (std::size_t i = 0; i < h.size(); ++i) write("hostile-" + std::to_string(i), h[i]);
  return 0;
}
