// The Linux build's command line: what each argument list starts, prints and ends with.
#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using CommandLine::Interpret;
using CommandLine::Quoted;

// A version that no constant in the code could match by accident.
constexpr const char* kVersion = "3.14.15-test";
const std::string kVersionLine = "ozzlebeck (Tavik's Ozzlebeck) 3.14.15-test\n";

struct EndingCase {
  const char* name;
  std::vector<std::string> arguments;
  int status;
  const char* err;  // the whole of standard error
  enum { kNothing, kHelp, kVersion } out;
};

void PrintTo(const EndingCase& c, std::ostream* out) { *out << c.name; }

const EndingCase kEndingCases[] = {
    {"Help", {"--help"}, 0, "", EndingCase::kHelp},
    {"Version", {"--version"}, 0, "", EndingCase::kVersion},
    {"HelpWinsOverVersion", {"--version", "--help"}, 0, "", EndingCase::kHelp},
    {"VersionTwice", {"--version", "--version"}, 0, "", EndingCase::kVersion},
    {"UnknownOption",
     {"--frobnicate"},
     2,
     "ozzlebeck: unknown option '--frobnicate'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    // An unknown argument spoils the known ones, wherever it stands; the first one is named.
    {"UnknownAfterHelp",
     {"--help", "--frobnicate", "-x"},
     2,
     "ozzlebeck: unknown option '--frobnicate'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    {"UnknownBeforeVersion",
     {"-x", "--version"},
     2,
     "ozzlebeck: unknown option '-x'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    // Near misses of the two options, on either side.
    {"ShortHelp",
     {"-h"},
     2,
     "ozzlebeck: unknown option '-h'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    {"HelpCut",
     {"--hel"},
     2,
     "ozzlebeck: unknown option '--hel'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    {"HelpLonger",
     {"--helpx"},
     2,
     "ozzlebeck: unknown option '--helpx'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    {"HelpUpperCase",
     {"--HELP"},
     2,
     "ozzlebeck: unknown option '--HELP'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    {"VersionWithValue",
     {"--version=2"},
     2,
     "ozzlebeck: unknown option '--version=2'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    // Words that are no options at all.
    {"Word",
     {"dog.ini"},
     2,
     "ozzlebeck: unexpected argument 'dog.ini'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    {"Dash",
     {"-"},
     2,
     "ozzlebeck: unexpected argument '-'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    {"Empty",
     {""},
     2,
     "ozzlebeck: unexpected argument ''; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
    // A line break in an argument cannot make the message two lines.
    {"LineBreak",
     {"--a\nozzlebeck: fine"},
     2,
     "ozzlebeck: unknown option '--a\\nozzlebeck: fine'; see 'ozzlebeck --help'\n",
     EndingCase::kNothing},
};

class EndingCases : public ::testing::TestWithParam<EndingCase> {};

TEST_P(EndingCases, EndsWithItsStatusAndText) {
  const EndingCase& c = GetParam();
  const CommandLine::Answer answer = Interpret(c.arguments, kVersion);
  EXPECT_FALSE(answer.start);
  EXPECT_EQ(answer.exit_status, c.status);
  EXPECT_EQ(answer.err, c.err);
  switch (c.out) {
    case EndingCase::kNothing:
      EXPECT_EQ(answer.out, "");
      break;
    case EndingCase::kVersion:
      EXPECT_EQ(answer.out, kVersionLine);
      break;
    case EndingCase::kHelp:
      EXPECT_TRUE(answer.out.starts_with("Usage: ozzlebeck [--help | --version]\n")) << answer.out;
      break;
  }
  // Whatever is printed ends its line.
  if (!answer.err.empty()) {
    EXPECT_EQ(answer.err.find('\n'), answer.err.size() - 1) << answer.err;
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLine, EndingCases, ::testing::ValuesIn(kEndingCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineTest, NoArgumentsStartTheToyQuietly) {
  const CommandLine::Answer answer = Interpret({}, kVersion);
  EXPECT_TRUE(answer.start);
  EXPECT_EQ(answer.out, "");
  EXPECT_EQ(answer.err, "");
}

// The help says what the program is, how it is used, where its settings live and which options
// it has.
TEST(CommandLineTest, HelpCoversUseSettingsAndOptions) {
  const std::string help = Interpret({"--help"}, kVersion).out;
  for (const char* part :
       {"Drag", "Double-click", "ozzlebeck.ini", "$XDG_CONFIG_HOME/ozzlebeck/ozzlebeck.ini",
        "~/.config/ozzlebeck/ozzlebeck.ini", "\n  --help ", "\n  --version ", "DISPLAY"}) {
    EXPECT_NE(help.find(part), std::string::npos) << "no \"" << part << "\" in:\n" << help;
  }
  // A terminal of 80 columns shows every line whole.
  std::size_t start = 0;
  for (std::size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1) {
    EXPECT_LT(end - start, 80u) << help.substr(start, end - start);
  }
  EXPECT_EQ(start, help.size()) << "the help does not end its last line";
}

struct QuotedCase {
  const char* argument;
  const char* shown;
};

void PrintTo(const QuotedCase& c, std::ostream* out) { *out << Quoted(c.argument); }

class QuotedCases : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(QuotedCases, ShowsTheArgumentOnOneLine) {
  EXPECT_EQ(Quoted(GetParam().argument), GetParam().shown);
}

// Control characters and DEL are escaped; the printable bytes on either side of them, and UTF-8
// letters, are kept.
INSTANTIATE_TEST_SUITE_P(
    CommandLine, QuotedCases,
    ::testing::Values(QuotedCase{"--frob", "'--frob'"}, QuotedCase{"a\tb\nc", "'a\\tb\\nc'"},
                      QuotedCase{"\x1b[31mred", "'\\x1b[31mred'"},
                      QuotedCase{"\x01\x1f \x7e\x7f", "'\\x01\\x1f ~\\x7f'"},
                      QuotedCase{"it's", "'it\\'s'"}, QuotedCase{"C:\\dog", "'C:\\\\dog'"},
                      QuotedCase{"\xd1\x82\xd0\xb5\xd1\x81\xd1\x82-\xe7\x8a\xac",
                                 "'\xd1\x82\xd0\xb5\xd1\x81\xd1\x82-\xe7\x8a\xac'"}));

}  // namespace
