// The command line: the option table, a permuting option parser that works for
// any table, the usage formatter and the decision that turns a parse into flags
// and positionals or into a user error carrying the usage text.
#pragma once

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "base/flag.h"

namespace qv {

struct NoArg {
  Flag flag;
};
struct ReqArg {
  std::function<Flag(std::string)> make;
  std::string name;  // shown in the usage text, e.g. "FILE"
};
using ArgDescr = std::variant<NoArg, ReqArg>;

// One row of an option table.
struct OptDescr {
  std::vector<char> shortNames;
  std::vector<std::string> longNames;
  ArgDescr arg;
  std::string description;  // may hold several lines
};

const std::vector<OptDescr>& optionTable();
extern const char* const usageHeader;

struct GetOptResult {
  std::vector<Flag> flags;
  std::vector<std::string> positionals;
  std::vector<std::string> unrecognized;  // option texts, in order of occurrence
  std::vector<std::string> errors;        // messages, each ending in a line feed
};

// Parses arguments (without the program name) in permuting mode: options and
// positionals may be interleaved, and "--" ends the options.
GetOptResult getOpt(const std::vector<OptDescr>& table, const std::vector<std::string>& args);

// The error line for an unrecognised option.
inline std::string errUnrec(const std::string& option) {
  return "unrecognized option `" + option + "'\n";
}
// The usage text: header, then one row (or more) per option.
std::string usageInfo(const std::string& header, const std::vector<OptDescr>& table);

struct ParsedOptions {
  std::vector<Flag> flags;
  std::vector<std::string> positionals;
};
// Throws Error::user with the messages followed by the usage text when the
// command line has errors or names no input.
ParsedOptions parseOptions(const std::vector<std::string>& args);

}  // namespace qv
