// The Linux build's command line: what each argument list starts, prints and ends with.
#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using ::PrintTo;
using CommandLine::Interpret;
using CommandLine::Quoted;

// A version that no constant in the code could match by accident.
constexpr const char* kVersion = "3.14.15-test";
const std::string kVersionLine = "ozzlebeck (Tavik's Ozzlebeck) 3.14.15-test\n";

// How an argument list ends the program: with the help or the version on standard output
// (status 0), or refused with one line on standard error naming an argument (status 2).
enum Ending { kShowsHelp, kShowsVersion, kUnknownOption, kUnexpectedArgument };

struct EndingCase {
  const char* name;
  std::vector<std::string> arguments;
  Ending ending;
  const char* named = "";  // the argument a refusal names, as it shows it
};

// clang-format off
const EndingCase kEndingCases[] = {
    {"Help", {"--help"}, kShowsHelp},
    {"Version", {"--version"}, kShowsVersion},
    {"HelpWinsOverVersion", {"--version", "--help"}, kShowsHelp},
    {"VersionTwice", {"--version", "--version"}, kShowsVersion},
    {"UnknownOption", {"--frobnicate"}, kUnknownOption, "--frobnicate"},
    // An unknown argument spoils the known ones, wherever it stands; the first one is named.
    {"UnknownAfterHelp", {"--help", "--frobnicate", "-x"}, kUnknownOption, "--frobnicate"},
    {"UnknownBeforeVersion", {"-x", "--version"}, kUnknownOption, "-x"},
    // Near misses of the two options, on either side.
    {"ShortHelp", {"-h"}, kUnknownOption, "-h"},
    {"HelpCut", {"--hel"}, kUnknownOption, "--hel"},
    {"HelpLonger", {"--helpx"}, kUnknownOption, "--helpx"},
    {"HelpUpperCase", {"--HELP"}, kUnknownOption, "--HELP"},
    {"VersionWithValue", {"--version=2"}, kUnknownOption, "--version=2"},
    // Words that are no options at all.
    {"Word", {"dog.ini"}, kUnexpectedArgument, "dog.ini"},
    {"Dash", {"-"}, kUnexpectedArgument, "-"},
    {"Empty", {""}, kUnexpectedArgument, ""},
    // A line break in an argument cannot make the message two lines.
    {"LineBreak", {"--a\nozzlebeck: fine"}, kUnknownOption, "--a\\nozzlebeck: fine"},
};
// clang-format on

class EndingCases : public ::testing::TestWithParam<EndingCase> {};

TEST_P(EndingCases, EndsWithItsStatusAndText) {
  const EndingCase& c = GetParam();
  const CommandLine::Answer answer = Interpret(c.arguments, kVersion);
  EXPECT_FALSE(answer.start);
  const bool refused = c.ending == kUnknownOption || c.ending == kUnexpectedArgument;
  EXPECT_EQ(answer.exit_status, refused ? 2 : 0);
  const std::string kind = c.ending == kUnknownOption ? "unknown option" : "unexpected argument";
  EXPECT_EQ(answer.err,
            refused ? "ozzlebeck: " + kind + " '" + c.named + "'; see 'ozzlebeck --help'\n" : "");
  if (c.ending == kShowsHelp)
    EXPECT_TRUE(answer.out.starts_with("Usage: ozzlebeck [--help | --version]\n")) << answer.out;
  else
    EXPECT_EQ(answer.out, c.ending == kShowsVersion ? kVersionLine : "");
  // Whatever is printed ends its line.
  if (!answer.err.empty()) {
    EXPECT_EQ(answer.err.find('\n'), answer.err.size() - 1) << answer.err;
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLine, EndingCases, ::testing::ValuesIn(kEndingCases), ParamName);

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
