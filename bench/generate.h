// Deterministic benchmark documents: the same shape, size and seed always give
// the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qvbench {

// Writes the document to out; returns false for an unknown shape. Shapes:
//   catalog  realistic records: namespaced attributes, nested elements, text,
//            entity and numeric references, CDATA, a DOCTYPE and a declaration;
//   wide     one element with about bytes/7 leaf children;
//   deep     a chain of bytes/7 nested elements;
//   soup     malformed markup: unclosed tags, stray end tags, lone "<" and "&",
//            unterminated comments and quotes, binary bytes.
bool generate(const std::string& shape, std::size_t bytes, std::uint64_t seed, std::FILE* out);
// The document as a string.
std::string generateString(const std::string& shape, std::size_t bytes, std::uint64_t seed);

}  // namespace qvbench
