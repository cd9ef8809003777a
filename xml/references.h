// Line ends and character references, the two rewrites the reader makes to the
// characters of a document. Line ends are folded before the scan; a reference
// name either stands for one character or is left unresolved. Neither can fail.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// CRLF and lone CR become LF, in place; returns the text's new, never larger, size.
std::size_t foldLineEnds(char* text, std::size_t size);

// The character that a reference name (what stands between "&" and ";") stands
// for: one of the five named ones ("lt", "gt", "amp", "apos", "quot"), or a
// decimal ("#65") or hexadecimal ("#x41") code up to 1114111. Nothing otherwise.
std::optional<char32_t> resolveReference(std::string_view name);

}  // namespace qv
