#include "app/options.h"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <optional>
#include <span>

#include "base/error.h"
#include "base/lines.h"

namespace qv {

const char* const usageHeader = "Usage: quiltview [OPTION...] <input file.xml>";

const std::vector<OptDescr>& optionTable() {
  static const std::vector<OptDescr> table = {
      {{'v'}, {"verbose"}, NoArg{Flag::verbose()}, "verbose output on stderr"},
      {{'n'},
       {"name"},
       ReqArg{Flag::maxName, "Integer"},
       "maximum size of filename. than truncation."},
      {{'o'}, {"output"}, ReqArg{Flag::output, "FILE"}, "output FILE"},
  };
  return table;
}

namespace {

std::string errReq(const std::string& option, const std::string& argName) {
  return "option `" + option + "' requires an argument " + argName + "\n";
}

std::string errNoArg(const std::string& option) {
  return "option `" + option + "' doesn't allow an argument\n";
}

std::string errAmbig(const std::vector<OptDescr>& candidates, const std::string& option) {
  return usageInfo("option `" + option + "' is ambiguous; could be one of:", candidates);
}

// The lines of a description; the empty one is one empty line.
std::vector<std::string> descriptionLines(const std::string& text) {
  std::vector<std::string> lines;
  forEachLine(text,
              [&](std::span<const char> line) { lines.emplace_back(line.begin(), line.end()); });
  if (lines.empty()) lines.emplace_back();
  return lines;
}

template <class F>
std::string joinCells(std::size_t count, F&& cell) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ", ";
    out += cell(i);
  }
  return out;
}

// What one examined argument produced.
struct Step {
  enum class Kind { Flag, Positional, Unrecognized, Error, EndOfOptions } kind;
  Flag flag{};
  std::string text;
};

Step flagStep(Flag f) {
  return {Step::Kind::Flag, std::move(f), {}};
}
Step errorStep(std::string message) {
  return {Step::Kind::Error, {}, std::move(message)};
}
Step unrecognizedStep(std::string option) {
  return {Step::Kind::Unrecognized, {}, std::move(option)};
}

// A required argument: the one given with the option (after "=" or in the same
// word), else the next word of the command line, else an error.
Step requiredArgument(const ReqArg& reqArg, const std::string& option,
                      std::optional<std::string> given, std::deque<std::string>& rest) {
  if (given) return flagStep(reqArg.make(std::move(*given)));
  if (rest.empty()) return errorStep(errReq(option, reqArg.name));
  std::string next = std::move(rest.front());
  rest.pop_front();
  return flagStep(reqArg.make(std::move(next)));
}

Step longOption(const std::vector<OptDescr>& table, const std::string& body,
                std::deque<std::string>& rest) {
  const std::size_t eq = body.find('=');
  const std::string name = body.substr(0, eq);
  const std::string value = eq == std::string::npos ? std::string() : body.substr(eq);
  auto matching = [&](auto&& matches) {
    std::vector<OptDescr> found;
    for (const OptDescr& d : table) {
      if (std::any_of(d.longNames.begin(), d.longNames.end(), matches)) found.push_back(d);
    }
    return found;
  };
  std::vector<OptDescr> candidates = matching([&](const std::string& l) { return l == name; });
  if (candidates.empty()) {
    candidates = matching([&](const std::string& l) { return l.starts_with(name); });
  }
  const std::string option = "--" + name;
  if (candidates.size() > 1) return errorStep(errAmbig(candidates, option));
  if (candidates.empty()) return unrecognizedStep("--" + body);
  if (const NoArg* noArg = std::get_if<NoArg>(&candidates[0].arg)) {
    if (value.empty()) return flagStep(noArg->flag);
    return errorStep(errNoArg(option));
  }
  return requiredArgument(std::get<ReqArg>(candidates[0].arg), option,
                          value.empty() ? std::nullopt : std::optional(value.substr(1)), rest);
}

Step shortOption(const std::vector<OptDescr>& table, char letter, const std::string& tail,
                 std::deque<std::string>& rest) {
  std::vector<OptDescr> candidates;
  for (const OptDescr& d : table) {
    if (std::find(d.shortNames.begin(), d.shortNames.end(), letter) != d.shortNames.end()) {
      candidates.push_back(d);
    }
  }
  const std::string option = std::string("-") + letter;
  if (candidates.size() > 1) return errorStep(errAmbig(candidates, option));
  // The rest of a bundle is examined next as an argument of its own.
  auto pushTail = [&] {
    if (!tail.empty()) rest.push_front("-" + tail);
  };
  if (candidates.empty()) {
    pushTail();
    return unrecognizedStep(option);
  }
  if (const NoArg* noArg = std::get_if<NoArg>(&candidates[0].arg)) {
    pushTail();
    return flagStep(noArg->flag);
  }
  return requiredArgument(std::get<ReqArg>(candidates[0].arg), option,
                          tail.empty() ? std::nullopt : std::optional(tail), rest);
}

}  // namespace

std::string usageInfo(const std::string& header, const std::vector<OptDescr>& table) {
  struct Row {
    std::string shortCell, longCell, description;
  };
  std::vector<Row> rows;
  for (const OptDescr& d : table) {
    const std::string* argName = nullptr;
    if (const ReqArg* r = std::get_if<ReqArg>(&d.arg)) argName = &r->name;
    std::string shortCell = joinCells(d.shortNames.size(), [&](std::size_t i) {
      std::string cell = std::string("-") + d.shortNames[i];
      if (argName) cell += " " + *argName;
      return cell;
    });
    std::string longCell = joinCells(d.longNames.size(), [&](std::size_t i) {
      std::string cell = "--" + d.longNames[i];
      if (argName) cell += "=" + *argName;
      return cell;
    });
    const std::vector<std::string> lines = descriptionLines(d.description);
    rows.push_back({std::move(shortCell), std::move(longCell), lines[0]});
    for (std::size_t i = 1; i < lines.size(); ++i) rows.push_back({{}, {}, lines[i]});
  }
  std::size_t shortWidth = 0, longWidth = 0;
  for (const Row& r : rows) {
    shortWidth = std::max(shortWidth, r.shortCell.size());
    longWidth = std::max(longWidth, r.longCell.size());
  }
  std::string out = header + "\n";
  for (const Row& r : rows) {
    out += "  " + r.shortCell + std::string(shortWidth - r.shortCell.size(), ' ');
    out += "  " + r.longCell + std::string(longWidth - r.longCell.size(), ' ');
    out += "  " + r.description + "\n";
  }
  return out;
}

GetOptResult getOpt(const std::vector<OptDescr>& table, const std::vector<std::string>& args) {
  GetOptResult result;
  std::deque<std::string> rest(args.begin(), args.end());
  while (!rest.empty()) {
    std::string arg = std::move(rest.front());
    rest.pop_front();
    Step step;
    if (arg == "--") {
      step.kind = Step::Kind::EndOfOptions;
    } else if (arg.size() > 2 && arg.starts_with("--")) {
      step = longOption(table, arg.substr(2), rest);
    } else if (arg.size() > 1 && arg[0] == '-') {
      step = shortOption(table, arg[1], arg.substr(2), rest);
    } else {
      step = {Step::Kind::Positional, {}, std::move(arg)};
    }
    switch (step.kind) {
      case Step::Kind::Flag:
        result.flags.push_back(std::move(step.flag));
        break;
      case Step::Kind::Positional:
        result.positionals.push_back(std::move(step.text));
        break;
      case Step::Kind::Unrecognized:
        result.unrecognized.push_back(std::move(step.text));
        break;
      case Step::Kind::Error:
        result.errors.push_back(std::move(step.text));
        break;
      case Step::Kind::EndOfOptions:
        for (std::string& a : rest) result.positionals.push_back(std::move(a));
        rest.clear();
        break;
    }
  }
  return result;
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
  GetOptResult r = getOpt(optionTable(), args);
  std::string messages;
  for (const std::string& e : r.errors) messages += e;
  for (const std::string& u : r.unrecognized) messages += errUnrec(u);
  const std::string usage = usageInfo(usageHeader, optionTable());
  if (r.positionals.empty() && messages.empty()) throw Error::user(usage);
  if (!messages.empty()) throw Error::user(messages + usage);
  return {std::move(r.flags), std::move(r.positionals)};
}

}  // namespace qv
