#include "app/options.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace qv {
namespace {

const std::string kUsage =
    "Usage: quiltview [OPTION...] <input file.xml>\n"
    "  -v          --verbose       verbose output on stderr\n"
    "  -n Integer  --name=Integer  maximum size of filename. than truncation.\n"
    "  -o FILE     --output=FILE   output FILE\n";

std::string failureOf(const std::vector<std::string>& args) {
  try {
    parseOptions(args);
  } catch (const Error& e) {
    return e.message();
  }
  return "(accepted)";
}

TEST(Options, UsageTextIsExact) {
  EXPECT_EQ(usageInfo(usageHeader, optionTable()), kUsage);
}

TEST(Options, UsageInfoSizesColumnsForAnyTable) {
  const std::vector<OptDescr> table = {
      {{'a', 'b'}, {"alpha", "al"}, NoArg{Flag::verbose()}, "first\nsecond line"},
      {{}, {"x"}, ReqArg{Flag::output, "N"}, ""},
  };
  EXPECT_EQ(usageInfo("H", table),
            "H\n"
            "  -a, -b  --alpha, --al  first\n"
            "                         second line\n"
            "          --x=N          \n");
}

TEST(Options, AcceptedCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::vector<Flag> flags;
    std::vector<std::string> positionals;
  };
  const Case cases[] = {
      {{"a.xml"}, {}, {"a.xml"}},
      {{"a.xml", "b.xml"}, {}, {"a.xml", "b.xml"}},
      {{"-o", "-v", "a.xml"}, {Flag::output("-v")}, {"a.xml"}},
      {{"a.xml", "--", "-v"}, {}, {"a.xml", "-v"}},
      {{"-"}, {}, {"-"}},
      {{""}, {}, {""}},
      {{"-n", "abc", "a.xml"}, {Flag::maxName("abc")}, {"a.xml"}},
      {{"-vv", "a.xml"}, {Flag::verbose(), Flag::verbose()}, {"a.xml"}},
      {{"--output=", "a.xml"}, {Flag::output("")}, {"a.xml"}},
      {{"-vo", "out.html", "a.xml"}, {Flag::verbose(), Flag::output("out.html")}, {"a.xml"}},
      {{"-oout.html", "-n5", "a"}, {Flag::output("out.html"), Flag::maxName("5")}, {"a"}},
      {{"a", "--out", "x", "--verb"}, {Flag::output("x"), Flag::verbose()}, {"a"}},
      {{"--name=a=b", "a"}, {Flag::maxName("a=b")}, {"a"}},
      {{"-v-", "-x", "a"}, {Flag::verbose()}, {"-x", "a"}},  // "-v-" leaves "--"
      {{"-o", "x", "a", "-o", "y"}, {Flag::output("x"), Flag::output("y")}, {"a"}},
  };
  for (const Case& c : cases) {
    const ParsedOptions p = parseOptions(c.args);
    EXPECT_EQ(p.flags, c.flags) << testing::PrintToString(c.args);
    EXPECT_EQ(p.positionals, c.positionals) << testing::PrintToString(c.args);
  }
}

TEST(Options, RejectedCommandLinesCarryMessagesThenUsage) {
  struct Case {
    std::vector<std::string> args;
    std::string messages;  // before the usage text
  };
  const Case cases[] = {
      {{}, ""},
      {{"-v"}, ""},
      {{"--o", "a.xml"}, ""},  // a.xml is the output value: no input
      {{"-o"}, "option `-o' requires an argument FILE\n"},
      {{"--output"}, "option `--output' requires an argument FILE\n"},
      {{"--out"}, "option `--out' requires an argument FILE\n"},
      {{"a", "-n"}, "option `-n' requires an argument Integer\n"},
      {{"--verbose=yes", "a"}, "option `--verbose' doesn't allow an argument\n"},
      {{"--colour=red", "a"}, "unrecognized option `--colour=red'\n"},
      {{"-xv", "a.xml"}, "unrecognized option `-x'\n"},
      {{"-v-x", "a"}, "unrecognized option `--x'\n"},
      {{"-x", "--output"},
       "option `--output' requires an argument FILE\nunrecognized option `-x'\n"},
      {{"-x", "-y", "a"}, "unrecognized option `-x'\nunrecognized option `-y'\n"},
      {{"--=x", "a.xml"},
       "option `--' is ambiguous; could be one of:\n"
       "  -v          --verbose       verbose output on stderr\n"
       "  -n Integer  --name=Integer  maximum size of filename. than truncation.\n"
       "  -o FILE     --output=FILE   output FILE\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(failureOf(c.args), "user error (" + c.messages + kUsage + ")")
        << testing::PrintToString(c.args);
  }
}

TEST(Options, AmbiguityListsOnlyTheCandidatesSizedOverThem) {
  const std::vector<OptDescr> table = {
      {{'a'}, {"alpha"}, NoArg{Flag::verbose()}, "A"},
      {{'b'}, {"beta"}, NoArg{Flag::verbose()}, "B"},
      {{'c'}, {"alps"}, ReqArg{Flag::output, "LONGNAME"}, "C"},
      {{'a'}, {"gamma"}, NoArg{Flag::verbose()}, "G"},
  };
  const GetOptResult r = getOpt(table, {"--al", "-ab"});
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[0],
            "option `--al' is ambiguous; could be one of:\n"
            "  -a           --alpha          A\n"
            "  -c LONGNAME  --alps=LONGNAME  C\n");
  // An ambiguous short option drops the rest of its bundle.
  EXPECT_EQ(r.errors[1],
            "option `-a' is ambiguous; could be one of:\n"
            "  -a  --alpha  A\n"
            "  -a  --gamma  G\n");
  EXPECT_TRUE(r.flags.empty());
  EXPECT_TRUE(r.unrecognized.empty());
}

}  // namespace
}  // namespace qv
