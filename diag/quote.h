// The quoted textual form of a text, used by the diagnostic lines of flags and
// arguments: printable ASCII as is, everything else escaped so that the result is
// one line of plain ASCII that reads back unambiguously.
#pragma once

#include <string>

#include "tree/label.h"

namespace qv {

// Appends the quoted form of text, double quotes included.
void appendQuoted(std::string& out, Label text);
std::string quotedText(Label text);

}  // namespace qv
