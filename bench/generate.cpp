#include "bench/generate.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qvbench {
namespace {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {  // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

 private:
  std::uint64_t state_;
};

const char* const kWords[] = {
    "river",  "stone",  "garden", "winter", "signal", "harbour", "copper", "lantern",
    "meadow", "orbit",  "quiet",  "engine", "paper",  "silver",  "thread", "valley",
    "north",  "bridge", "amber",  "falcon", "glass",  "island",  "marble", "needle",
    "ocean",  "pepper", "ribbon", "saddle", "timber", "velvet",  "willow", "zephyr"};
const char* const kNames[] = {"Lindqvist", "Okafor",  "Castellanos", "Whitfield", "Nakamura",
                              "Moreau",    "Brennan", "Adeyemi",     "Kowalski",  "Haddad"};
const char* const kCurrencies[] = {"EUR", "USD", "GBP", "JPY", "CHF"};

class Writer {
 public:
  Writer(std::size_t target, std::FILE* out, std::string* into)
      : target_(target), out_(out), into_(into) {
    buffer_.reserve(1 << 20);
  }
  ~Writer() { flush(); }
  void put(const std::string& s) { add(s.data(), s.size()); }
  void put(const char* s) { add(s, std::strlen(s)); }
  void put(char c) { add(&c, 1); }
  std::size_t written() const { return written_; }
  bool full() const { return written_ >= target_; }

 private:
  void add(const char* s, std::size_t n) {
    buffer_.append(s, n);
    written_ += n;
    if (buffer_.size() >= (1 << 20)) flush();
  }
  void flush() {
    if (out_ != nullptr) std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
    if (into_ != nullptr) into_->append(buffer_);
    buffer_.clear();
  }
  std::string buffer_;
  std::size_t target_;
  std::FILE* out_;
  std::string* into_;
  std::size_t written_ = 0;
};

std::string words(Random& r, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) s += ' ';
    s += kWords[r.below(32)];
  }
  return s;
}

void catalog(Writer& w, Random& r) {
  w.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  w.put(
      "<!DOCTYPE cat:catalog [\n  <!ENTITY vendor \"Quilt and Co\">\n"
      "  <!ELEMENT cat:record (cat:title, cat:author+, cat:price)>\n]>\n");
  w.put("<?xml-stylesheet type=\"text/xsl\" href=\"catalog.xsl\"?>\n");
  w.put(
      "<cat:catalog xmlns:cat=\"urn:x-quilt:catalog\" xmlns:ln=\"urn:x-quilt:link\" "
      "generated=\"2026-12-08\">\n");
  for (std::size_t id = 1; !w.full(); ++id) {
    const std::string n = std::to_string(id);
    w.put("  <cat:record id=\"r" + n + "\" xml:lang=\"" + (r.below(3) ? "en" : "fr") +
          "\" status=\"" + (r.below(5) ? "active" : "retired") + "\">\n");
    w.put("    <cat:title>" + words(r, 2 + r.below(4)) + " &amp; " + words(r, 1 + r.below(2)) +
          "</cat:title>\n");
    const std::size_t authors = 1 + r.below(3);
    for (std::size_t a = 0; a < authors; ++a) {
      w.put(std::string("    <cat:author role=\"") + (a == 0 ? "primary" : "contributor") +
            "\"><cat:name>" + kNames[r.below(10)] + ", " + static_cast<char>('A' + r.below(26)) +
            ".</cat:name><cat:born>" + std::to_string(1900 + r.below(110)) +
            "</cat:born></cat:author>\n");
    }
    w.put(std::string("    <cat:price currency=\"") + kCurrencies[r.below(5)] + "\">" +
          std::to_string(r.below(200)) + "." + std::to_string(10 + r.below(90)) + "</cat:price>\n");
    w.put("    <cat:tags>");
    const std::size_t tags = r.below(4);
    for (std::size_t t = 0; t < tags; ++t) w.put("<cat:tag>" + words(r, 1) + "</cat:tag>");
    w.put("</cat:tags>\n");
    w.put("    <cat:description>" + words(r, 8 + r.below(20)) + " &#233;t&#xE9; &#x263A; " +
          "&vendor; <![CDATA[a < b && c > d]]> " + words(r, 4 + r.below(10)) + "\n      " +
          words(r, 6) + "</cat:description>\n");
    w.put("    <ln:link ln:href=\"https://example.org/record/" + n +
          "?view=full&amp;lang=en\" ln:type=\"simple\"/>\n");
    if (r.below(10) == 0) w.put("    <!-- reviewed " + words(r, 2) + " -->\n");
    w.put("  </cat:record>\n");
  }
  w.put("</cat:catalog>\n");
}

void wide(Writer& w) {
  w.put("<wide>");
  while (!w.full()) w.put("<leaf/>\n");
  w.put("</wide>\n");
}

void deep(Writer& w, std::size_t bytes) {
  const std::size_t depth = bytes / 7;
  for (std::size_t i = 0; i < depth; ++i) w.put("<d>");
  w.put("x");
  for (std::size_t i = 0; i < depth; ++i) w.put("</d>");
  w.put('\n');
}

void soup(Writer& w, Random& r) {
  static const char* const kPieces[] = {
      "<p>",
      "<div class=x>",
      "<li>",
      "</p>",
      "</span>",
      "</div>",
      "< ",
      "<",
      "&",
      "&&",
      "&amp",
      "&#12345678;",
      "&nbsp;",
      "&#x41;",
      "<br/>",
      "<img src=a.png>",
      "<a href='x>",
      "<!-- c -->",
      "<![CDATA[x]]>",
      "<!x <y> >",
      "</ p>",
      "<?pi data?>",
      "<?go?>",
      "</>",
      "text ",
      "more text\n",
      "\r\n",
      "  ",
      "<b>bold",
      "</b></b>",
      "<x:y z:w=\"1\">",
      "</x:y>",
      "<ns xmlns=\"u\">",
      "</ns>",
      "=\"\"",
      "<a b c=d e='f' g=\"h\"/>",
  };
  constexpr std::size_t kCount = sizeof(kPieces) / sizeof(kPieces[0]);
  while (!w.full()) {
    const std::size_t k = r.below(kCount + 4);
    if (k < kCount) {
      w.put(kPieces[k]);
    } else {
      // A run of binary bytes. Markup openers come only from the pieces: a random
      // "<!" would open a declaration that the many stray "<" never let close.
      for (std::size_t i = r.below(16); i > 0; --i) {
        const char c = static_cast<char>(r.below(256));
        w.put(c == '<' || c == '&' ? '?' : c);
      }
    }
  }
  // What never ends goes last, so it swallows only the tail.
  w.put("<a title=\"unterminated");
  w.put("<!-- unterminated comment");
}

bool write(const std::string& shape, std::size_t bytes, std::uint64_t seed, std::FILE* out,
           std::string* into) {
  Random random(seed);
  Writer w(bytes, out, into);
  if (shape == "catalog") {
    catalog(w, random);
  } else if (shape == "wide") {
    wide(w);
  } else if (shape == "deep") {
    deep(w, bytes);
  } else if (shape == "soup") {
    soup(w, random);
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool generate(const std::string& shape, std::size_t bytes, std::uint64_t seed, std::FILE* out) {
  return write(shape, bytes, seed, out, nullptr);
}

std::string generateString(const std::string& shape, std::size_t bytes, std::uint64_t seed) {
  std::string doc;
  write(shape, bytes, seed, nullptr, &doc);
  return doc;
}

}  // namespace qvbench
