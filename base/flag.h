// Flag: one recognised option occurrence of the command line. The command line
// makes them and the diagnostics show them, so the type lives with the shared ones.
#pragma once

#include <string>

namespace qv {

struct Flag {
  enum class Kind { Verbose, MaxName, Output };
  Kind kind;
  std::string text;  // the option argument exactly as typed; empty for Verbose

  static Flag verbose() { return {Kind::Verbose, {}}; }
  static Flag maxName(std::string s) { return {Kind::MaxName, std::move(s)}; }
  static Flag output(std::string s) { return {Kind::Output, std::move(s)}; }
  friend bool operator==(const Flag&, const Flag&) = default;
};

}  // namespace qv
