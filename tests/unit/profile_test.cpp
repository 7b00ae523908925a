// GetPrivateProfileStringA and WritePrivateProfileStringA on POSIX: the lookup rules of Windows'
// profile code, the byte-exact writes, hostile files, and the promise that a write leaves either
// the old or the new file, whole.
#include "platform/posix/profile.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win32_api.h"
#include "test_support.h"

namespace {

using platform::posix::ProfileWriteStep;
using platform::posix::SetProfileSyncCall;
using platform::posix::SetProfileWriteHook;
using namespace std::string_literals;
using ::PrintTo;

// UTF-16 text as a file holds it, little or big endian, with a byte-order mark unless asked not
// to. A unit the text gives as a number (u"\xD800") goes in as it is, a lone surrogate too.
std::string Utf16(std::u16string_view text, bool bigEndian, bool mark) {
  std::string bytes;
  for (const char16_t unit : mark ? u"\xFEFF"s + std::u16string(text) : std::u16string(text)) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}
std::string Le(std::u16string_view text) { return Utf16(text, false, true); }
std::string Be(std::u16string_view text) { return Utf16(text, true, true); }

// What a read gave: the count, and the bytes it wrote (the count's worth, checked to be followed
// by a NUL).
struct Read {
  DWORD count;
  std::string text;
  bool operator==(const Read&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Read& read) {
  return out << read.count << " \"" << read.text << '"';
}

Read ReadValue(const std::string& file, const char* section, const char* key,
               const char* fallback = "", DWORD size = 2048) {
  std::string buffer(size + 1, '#');
  const DWORD count =
      GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file.c_str());
  EXPECT_LT(count, size);
  EXPECT_EQ(buffer[count], '\0');
  return Read{count, buffer.substr(0, count)};
}

// The files beside `file` other than it, in order: temporary files a write left behind.
std::vector<std::string> Leftovers(const TempDir& dir, const std::string& file) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().string() != file) names.push_back(entry.path().filename().string());
  std::ranges::sort(names);
  return names;
}

// ---------------------------------------------------------------------------------------------
// Reading

// A read of `section` and `key` from a file holding `content`; most cases read k of [S].
struct ReadCase {
  const char* name;
  std::string content;
  Read expected;
  const char* fallback = "";
  const char* section = "S";
  const char* key = "k";
  DWORD size = 2048;
};

// A settings file of the test's own, in a folder of its own.
class FileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string file_ = dir_ / "settings.ini";
};

class ReadTest : public FileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, GivesWhatTheRulesSay) {
  const ReadCase& c = GetParam();
  WriteFile(file_, c.content);
  EXPECT_EQ(ReadValue(file_, c.section, c.key, c.fallback, c.size), c.expected);
}

const std::string kLong(3000, 'a');

// One case a line or two, like a table.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, ReadTest, ::testing::Values(
    ReadCase{"Plain", "[S]\r\nk=v\r\n", {1, "v"}},
    ReadCase{"NamesInCapitals", "[TAVIK'S OZZLEBECK]\r\nTOP=1935\r\n", {4, "1935"}, "",
        "Tavik's Ozzlebeck", "top"},
    ReadCase{"AskedInCapitals", "[Tavik's Ozzlebeck]\r\nTop=1935\r\n", {4, "1935"}, "",
        "TAVIK'S OZZLEBECK", "TOP"},
    ReadCase{"LfLineEnds", "[S]\nk=v\n", {1, "v"}},
    ReadCase{"CrLineEnds", "[S]\rj=1\rk=v\r", {1, "v"}},
    ReadCase{"NoFinalLineEnd", "[S]\r\nk=v", {1, "v"}},
    ReadCase{"WhiteSpaceAround", "  [ S ]  \r\n\t k \t=\t v w \t\r\n", {3, "v w"}},
    ReadCase{"EmptyValueIsNotTheDefault", "[S]\r\nk=\r\n", {0, ""}, "d"},
    ReadCase{"BareNameReadsAsMissing", "[S]\r\nk\r\n", {1, "d"}, "d"},
    ReadCase{"MissingKey", "[S]\r\nk=v\r\n", {1, "d"}, "d", "S", "j"},
    ReadCase{"MissingSection", "[S]\r\nk=v\r\n", {1, "d"}, "d", "T"},
    ReadCase{"EmptyFile", "", {1, "d"}, "d"},
    ReadCase{"KeyInAnotherSection", "[T]\r\nk=1\r\n[S]\r\nj=2\r\n", {1, "d"}, "d"},
    ReadCase{"CommentIsNoKey", "[S]\r\n;k=c\r\nk=v\r\n", {1, "v"}},
    ReadCase{"FirstOfRepeatedSections", "[S]\r\nk=1\r\n[T]\r\n[s]\r\nk=2\r\n", {1, "1"}},
    ReadCase{"KeysOfARepeatedSectionAreNotSeen", "[S]\r\nk=1\r\n[s]\r\nj=3\r\n", {1, "d"}, "d", "S",
        "j"},
    ReadCase{"FirstOfRepeatedKeys", "[S]\r\nk=1\r\nK=2\r\n", {1, "1"}},
    ReadCase{"SplitAtTheFirstEquals", "[S]\r\nk = a=b \r\n", {3, "a=b"}},
    ReadCase{"DoubleQuotesDropped", "[S]\r\nk=\"v w\"\r\n", {3, "v w"}},
    ReadCase{"SingleQuotesDropped", "[S]\r\nk='v'\r\n", {1, "v"}},
    ReadCase{"QuotesKeepInnerSpace", "[S]\r\nk= \" x \" \r\n", {3, " x "}},
    ReadCase{"MismatchedQuotesKept", "[S]\r\nk=\"v'\r\n", {3, "\"v'"}},
    ReadCase{"LoneQuoteKept", "[S]\r\nk=\"\r\n", {1, "\""}},
    ReadCase{"CutToTheBuffer", "[S]\r\nk=" + kLong + "\r\n", {2047, kLong.substr(0, 2047)}},
    ReadCase{"QuotesDroppedBeforeTheCut", "[S]\r\nk=\"abcdef\"\r\n", {3, "abc"}, "", "S", "k", 4},
    ReadCase{"QuotedValueThatJustFits", "[S]\r\nk=\"abc\"\r\n", {3, "abc"}, "", "S", "k", 4},
    ReadCase{"OneByteBuffer", "[S]\r\nk=abc\r\n", {0, ""}, "", "S", "k", 1},
    ReadCase{"DefaultLosesTrailingSpaces", "", {4, "ab \t"}, "ab \t  "},
    ReadCase{"NullDefault", "", {0, ""}, nullptr},
    ReadCase{"ValueEndsAtNul", "[S]\r\nk=ab\0cd\r\n"s, {2, "ab"}},
    ReadCase{"UnclosedHeaderIsAnEntry", "[S\r\nk=1\r\n", {1, "d"}, "d"},
    ReadCase{"LinesBeforeTheFirstHeader", "k=0\r\n[S]\r\nk=1\r\n", {1, "0"}, "", ""},
    ReadCase{"ByteOrderMarkSkipped", "\xEF\xBB\xBF[S]\r\nk=v\r\n", {1, "v"}},
    ReadCase{"OnlyAsciiLettersFolded", "[S]\r\n\xC9=1\r\n", {1, "d"}, "d", "S", "\xE9"}),
    ParamName);

// Files saved as "Unicode": UTF-16 text, handed out in UTF-8, the ANSI code page on POSIX.
const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair in UTF-16
const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

INSTANTIATE_TEST_SUITE_P(Utf16Files, ReadTest, ::testing::Values(
    ReadCase{"LittleEndian", Le(u"[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n"), {4, "8100"},
        "", "TAVIK'S OZZLEBECK", "left"},
    ReadCase{"BigEndian", Be(u"[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n"), {4, "1935"}, "",
        "Tavik's Ozzlebeck", "Top"},
    ReadCase{"MissingKey", Le(u"[S]\r\nk=v\r\n"), {1, "d"}, "d", "S", "j"},
    ReadCase{"WhiteSpaceAndQuotes", Le(u"  [ S ]  \r\n\t k \x1A=\t \"v w\" \r\n"), {3, "v w"}},
    ReadCase{"LfAndCrLineEnds", Le(u"[T]\nk=1\n[S]\rj=1\rk=v\r"), {1, "v"}},
    ReadCase{"FirstOfRepeatedSections", Le(u"[S]\r\nk=1\r\n[s]\r\nk=2\r\n"), {1, "1"}},
    ReadCase{"CutToTheBuffer", Le(u"[S]\r\nk=1935\r\n"), {3, "193"}, "", "S", "k", 4},
    ReadCase{"ValueEndsAtNul", Le(u"[S]\r\nk=ab\0cd\r\n"s), {2, "ab"}},
    ReadCase{"BeyondAscii", Le(u"[S]\r\nk=h\u00E9\u20AC\U0001F600\r\n"),
        {10, "h\xC3\xA9\xE2\x82\xAC" + kEmoji}},
    ReadCase{"BeyondAsciiBigEndian", Be(u"[S]\r\nk=\U0001F600\r\n"), {4, kEmoji}},
    ReadCase{"NameBeyondAscii", Le(u"[\u00C9t\u00E9]\r\n\u00E9=1\r\n"), {1, "1"}, "",
        "\xC3\x89T\xC3\xA9", "\xC3\xA9"},
    ReadCase{"OnlyAsciiLettersFolded", Le(u"[S]\r\n\u00C9=1\r\n"), {1, "d"}, "d", "S", "\xC3\xA9"},
    ReadCase{"WhiteSpaceIsAsciiOnly", Le(u"[S]\r\nk=\u00A0\u3000v\u3000\r\n"),
        {9, "\xC2\xA0\xE3\x80\x80v\xE3\x80\x80"}},
    ReadCase{"LoneSurrogates", Le(u"[S]\r\nk=a\xD800" u"b\xDC00\xDBFF\r\n"),
        {11, "a" + kReplacement + "b" + kReplacement + kReplacement}},
    ReadCase{"HighSurrogateAtTheEnd", Le(u"[S]\r\nk=x\xD800"), {4, "x" + kReplacement}},
    ReadCase{"LastOddByte", Le(u"[S]\r\nk=v") + "A", {4, "v" + kReplacement}},
    ReadCase{"SecondMarkIsACharacter", Le(u"\xFEFF[S]\r\nk=v\r\n"), {1, "d"}, "d"},
    ReadCase{"MarkOnly", "\xFF\xFE", {1, "d"}, "d"},
    ReadCase{"MarkAndAnOddByte", "\xFE\xFF[", {1, "d"}, "d"},
    ReadCase{"WithoutAMarkIsAnsi", Utf16(u"[S]\r\nk=v\r\n", false, false), {1, "d"}, "d"},
    ReadCase{"Utf8MarkAfterAUtf16MarkIsText", "\xFF\xFE\xEF\xBB\xBF[S]\r\nk=v\r\n", {1, "d"},
        "d"}), ParamName);
// clang-format on

// Lists: the key names of a section, or the section names, NUL-separated.
struct ListCase {
  const char* name;
  const char* section;
  DWORD size;
  DWORD count;
  std::string bytes;  // the buffer's first count + 2 bytes (or all of a smaller buffer)
};

class ListTest : public FileTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListTest, ListsNamesAsWindowsDoes) {
  const ListCase& c = GetParam();
  WriteFile(file_, "[S]\r\na=1\r\n;c=2\r\nbare\r\nbb=\r\n[T]\r\nt=1\r\n[]\r\n[s]\r\nc=4\r\n");
  std::string buffer(c.size, '#');
  EXPECT_EQ(GetPrivateProfileStringA(c.section, nullptr, "d", buffer.data(), c.size, file_.c_str()),
            c.count);
  EXPECT_EQ(buffer.substr(0, c.count + 2), c.bytes);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lists, ListTest, ::testing::Values(
    ListCase{"Keys", "S", 100, 5, "a\0bb\0\0#"s},
    ListCase{"KeysCut", "S", 5, 3, "a\0b\0\0"s},
    ListCase{"KeysOfAMissingSection", "X", 100, 1, "d\0#"s},
    ListCase{"Sections", nullptr, 100, 6, "S\0T\0s\0\0#"s},
    ListCase{"SectionsCut", nullptr, 6, 4, "S\0T\0\0\0"s}), ParamName);
// clang-format on

TEST(Read, ListsNamesOfAUtf16File) {
  TempDir dir;
  const std::string file = dir / "settings.ini";
  WriteFile(file, Be(u"[S]\r\na=1\r\n;c=2\r\n\u00E9=\r\n[T\U0001F600]\r\n"));
  std::string buffer(100, '#');
  EXPECT_EQ(GetPrivateProfileStringA("S", nullptr, "d", buffer.data(), 100, file.c_str()), 5u);
  EXPECT_EQ(buffer.substr(0, 7), "a\0\xC3\xA9\0\0#"s);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "d", buffer.data(), 100, file.c_str()), 8u);
  EXPECT_EQ(buffer.substr(0, 10), "S\0T"s + kEmoji + "\0\0#"s);
}

TEST(Read, NoBufferNoRead) {
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "d", nullptr, 10, "/nonexistent"), 0u);
  char byte = '#';
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "d", &byte, 0, "/nonexistent"), 0u);
  EXPECT_EQ(byte, '#');
}

// ---------------------------------------------------------------------------------------------
// Hostile files: reads never crash or hang and give what the rules say.

using HostileFileTest = FileTest;

TEST_F(HostileFileTest, AFolderGivesTheDefault) {
  std::filesystem::create_directory(file_);
  EXPECT_EQ(ReadValue(file_, "S", "k", "d"), (Read{1, "d"}));
}

TEST_F(HostileFileTest, AFifoGivesTheDefaultWithoutWaiting) {
  ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0);
  EXPECT_EQ(ReadValue(file_, "S", "k", "d"), (Read{1, "d"}));
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", file_.c_str()));
}

TEST_F(HostileFileTest, AnUnreadableFileGivesTheDefault) {
  RunUnprivileged([] {
    TempDir dir;
    const std::string file = dir / "settings.ini";
    WriteFile(file, "[S]\r\nk=v\r\n");
    chmod(file.c_str(), 0);
    EXPECT_EQ(ReadValue(file, "S", "k", "d"), (Read{1, "d"}));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "w", file.c_str()));
  });
}

TEST_F(HostileFileTest, ALineOfAMegabyte) {
  const std::string line(1 << 20, 'x');
  WriteFile(file_, "[S]\r\n" + line + "\r\nbig=" + line + "\r\nk=v\r\n");
  EXPECT_EQ(ReadValue(file_, "S", "k"), (Read{1, "v"}));
  EXPECT_EQ(ReadValue(file_, "S", "big"), (Read{2047, line.substr(0, 2047)}));
  const DWORD whole = (1 << 20) + 1;
  EXPECT_EQ(ReadValue(file_, "S", "big", "", whole + 1), (Read{whole - 1, line}));
}

TEST_F(HostileFileTest, LinesAcrossTheReadChunks) {
  // Put the line ends on every side of the 1 MiB chunks a read takes in.
  for (std::size_t shift = 0; shift < 6; ++shift) {
    const std::string head = "[S]\r\n;" + std::string((1 << 20) - 9 + shift, '-') + "\r\n";
    WriteFile(file_, head + "k=v\r\n[T]\r\nk=w");
    EXPECT_EQ(ReadValue(file_, "S", "k"), (Read{1, "v"})) << shift;
    EXPECT_EQ(ReadValue(file_, "T", "k"), (Read{1, "w"})) << shift;
  }
}

TEST_F(HostileFileTest, Utf16CharactersAcrossTheReadChunks) {
  // Put line ends and surrogate pairs on every side of the chunks a read takes in.
  const std::u16string tail = u"k=\U0001F600\r\n[T]\r\nk=\U0001F600";
  for (std::size_t shift = 0; shift < 6; ++shift) {
    const std::u16string head = u"[S]\r\n;" + std::u16string((1 << 19) - 6 + shift, u'-') + u"\r\n";
    for (const bool bigEndian : {false, true}) {
      WriteFile(file_, Utf16(head + tail, bigEndian, true));
      EXPECT_EQ(ReadValue(file_, "S", "k"), (Read{4, kEmoji})) << shift << bigEndian;
      EXPECT_EQ(ReadValue(file_, "T", "k"), (Read{4, kEmoji})) << shift << bigEndian;
    }
  }
}

TEST_F(HostileFileTest, ALargeUtf16FileIsReadToItsEnd) {
  std::u16string text;
  for (int i = 0; text.size() < (8u << 20); ++i) {
    const std::string number = std::to_string(i);
    text += u"[Section \u00E9";
    text.append(number.begin(), number.end());
    text += u"]\r\nTop=\U0001F600";
    text.append(number.begin(), number.end());
    text += u"\r\n";
  }
  text += u"[Tavik's Ozzlebeck]\nTop=1935\nLeft=8100";
  WriteFile(file_, Le(text));
  EXPECT_EQ(ReadValue(file_, "Tavik's Ozzlebeck", "Left"), (Read{4, "8100"}));
  const std::string section7 = "Section \xC3\xA9" + std::to_string(7);
  EXPECT_EQ(ReadValue(file_, section7.c_str(), "Top"), (Read{5, kEmoji + "7"}));
}

TEST_F(HostileFileTest, AUtf16LineBeyondTheLineLimitIsPassedOver) {
  // Each character is two bytes of UTF-8; a read holds a whole chunk more than the limit at most.
  const std::size_t characters = (platform::posix::kProfileLineLimit + (2 << 20)) / 2;
  WriteFile(file_, Le(u"[S]\r\nk=" + std::u16string(characters, u'\u00E9') + u"\r\nj=v\r\n"));
  EXPECT_EQ(ReadValue(file_, "S", "k", "d"), (Read{1, "d"}));
  EXPECT_EQ(ReadValue(file_, "S", "j"), (Read{1, "v"}));
}

TEST_F(HostileFileTest, ALineBeyondTheLineLimitIsPassedOver) {
  std::string content = "[S]\r\nk=" + std::string(platform::posix::kProfileLineLimit + 10, 'x');
  content += "\r\nj=v\r\n";
  WriteFile(file_, content);
  EXPECT_EQ(ReadValue(file_, "S", "k", "d"), (Read{1, "d"}));
  EXPECT_EQ(ReadValue(file_, "S", "j"), (Read{1, "v"}));
}

TEST_F(HostileFileTest, NulBytesEverywhere) {
  std::string content(4096, '\0');
  content += "\r\n[S]\0\r\nk=v\0w\r\n\0\0=x\r\n"s;
  WriteFile(file_, content);
  EXPECT_EQ(ReadValue(file_, "S", "k"), (Read{1, "v"}));
  EXPECT_EQ(ReadValue(file_, "S", ""), (Read{1, "x"}));
}

TEST_F(HostileFileTest, ALargeFileIsReadToItsEnd) {
  std::string content;
  content.reserve(21 << 20);
  for (int i = 0; content.size() < (20u << 20); ++i)
    content += "[Section " + std::to_string(i) + "]\r\nTop=" + std::to_string(i) + "\r\n";
  content += "[Tavik's Ozzlebeck]\nTop=1935\nLeft=8100";
  WriteFile(file_, content);
  EXPECT_EQ(ReadValue(file_, "Tavik's Ozzlebeck", "Left"), (Read{4, "8100"}));
  EXPECT_EQ(ReadValue(file_, "Section 7", "Top"), (Read{1, "7"}));
}

// ---------------------------------------------------------------------------------------------
// Writing

struct WriteCase {
  const char* name;
  std::optional<std::string> before;  // none: no file
  const char* section;
  const char* key;
  const char* value;
  std::optional<std::string> after;
  BOOL result = TRUE;
};

class WriteTest : public FileTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, ChangesOnlyWhatItMust) {
  const WriteCase& c = GetParam();
  if (c.before) WriteFile(file_, *c.before);
  EXPECT_EQ(WritePrivateProfileStringA(c.section, c.key, c.value, file_.c_str()), c.result);
  EXPECT_EQ(ReadFileIfAny(file_), c.after);
  EXPECT_EQ(Leftovers(dir_, file_), std::vector<std::string>());
}

const std::string kTavik = "[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, WriteTest, ::testing::Values(
    WriteCase{"CreatesTheFile", std::nullopt, "Tavik's Ozzlebeck", "Top", "1935",
        "[Tavik's Ozzlebeck]\r\nTop=1935\r\n"},
    WriteCase{"FillsAnEmptyFile", "", "S", "k", "v", "[S]\r\nk=v\r\n"},
    WriteCase{"AddsAKeyAtTheEndOfItsSection", kTavik + "[B]\r\n", "Tavik's Ozzlebeck", "X", "1",
        kTavik + "X=1\r\n[B]\r\n"},
    WriteCase{"AddsAKeyBeforeBlankLines", "[A]\r\nx=1\r\n\r\n\r\n[B]\r\n", "A", "n", "v",
        "[A]\r\nx=1\r\nn=v\r\n\r\n\r\n[B]\r\n"},
    WriteCase{"AddsAKeyAfterAClosingComment", "[A]\r\nx=1\r\n; about B\r\n[B]\r\n", "A", "n", "v",
        "[A]\r\nx=1\r\n; about B\r\nn=v\r\n[B]\r\n"},
    WriteCase{"AddsAKeyToAnEmptySection", "[A]\r\n\r\n[B]\r\n", "A", "n", "v",
        "[A]\r\nn=v\r\n\r\n[B]\r\n"},
    WriteCase{"AddsASectionAtTheEnd", "[A]\r\nx=1\r\n", "B", "y", "2",
        "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
    WriteCase{"ReplacesTheValueInPlace", "  [ S ] \r\n  TOP =  1  \r\n", "s", "Top", "2",
        "  [ S ] \r\n  TOP =  2  \r\n"},
    WriteCase{"GivesABareNameItsValue", "[S]\r\nk\r\n", "S", "k", "v", "[S]\r\nk=v\r\n"},
    WriteCase{"SameValueChangesNothing", "[S]\nk=1\n", "s", "K", "1", "[S]\nk=1\n"},
    WriteCase{"KeepsLfLineEnds", "[S]\nk=1\n", "S", "j", "2", "[S]\nk=1\nj=2\n"},
    WriteCase{"EndsAnUnendedLastLine", "[S]\r\nk=1", "S", "j", "2", "[S]\r\nk=1\r\nj=2\r\n"},
    WriteCase{"KeepsEveryOtherByte",
        "; top\n[A]\r\n  x = 1 \r\n\r\n\r\n[Tavik's Ozzlebeck]\nTop=1\n; tail\n\n",
        "Tavik's Ozzlebeck", "Top", "2",
        "; top\n[A]\r\n  x = 1 \r\n\r\n\r\n[Tavik's Ozzlebeck]\nTop=2\n; tail\n\n"},
    WriteCase{"WritesToTheFirstOfRepeatedSections", "[A]\r\nx=1\r\n[B]\r\n[a]\r\nz=1\r\n", "A", "z",
        "2", "[A]\r\nx=1\r\nz=2\r\n[B]\r\n[a]\r\nz=1\r\n"},
    WriteCase{"TrimsNamesAndTheValuesStart", std::nullopt, " S\t", "\tk ", " \t v ",
        "[S]\r\nk=v \r\n"},
    WriteCase{"NamelessSectionIsAtTheTop", "a=1\r\n\r\n[S]\r\nk=1\r\n", "", "b", "2",
        "a=1\r\nb=2\r\n\r\n[S]\r\nk=1\r\n"},
    WriteCase{"KeepsTheByteOrderMark", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "j", "w",
        "\xEF\xBB\xBF[S]\r\nk=v\r\nj=w\r\n"},
    WriteCase{"DeletesAKey", "[S]\r\nk=1\r\nj=2\r\n\r\n", "S", "j", nullptr, "[S]\r\nk=1\r\n\r\n"},
    WriteCase{"DeletesAKeyOfARepeatedSection", "[A]\r\nx=1\r\n[a]\r\nz=1\r\n", "A", "z", nullptr,
        "[A]\r\nx=1\r\n[a]\r\n"},
    WriteCase{"DeletesTheFirstSectionOfTheName",
        "[A]\r\nx=1\r\n; c\r\n\r\n[B]\r\ny=1\r\n[a]\r\nz=1\r\n", "A", nullptr, nullptr,
        "[B]\r\ny=1\r\n[a]\r\nz=1\r\n"},
    WriteCase{"DeletesTheLastSection", "[S]\r\nk=1\r\n", "S", nullptr, "ignored", ""},
    WriteCase{"DeletingFromNoFileMakesNone", std::nullopt, "S", "k", nullptr, std::nullopt},
    WriteCase{"NoSectionNoWrite", std::nullopt, nullptr, "k", "v", std::nullopt, FALSE}),
    ParamName);

// A UTF-16 file stays UTF-16 in its byte order, and only what must change does.
INSTANTIATE_TEST_SUITE_P(Utf16Files, WriteTest, ::testing::Values(
    WriteCase{"ReplacesTheValueInPlace", Le(u"  [ S ] \r\n  TOP =  1  \r\n"), "s", "Top", "2",
        Le(u"  [ S ] \r\n  TOP =  2  \r\n")},
    WriteCase{"ReplacesTheValueInPlaceBigEndian", Be(u"[S]\r\nk=1\r\n"), "S", "k", "22",
        Be(u"[S]\r\nk=22\r\n")},
    WriteCase{"AddsAKeyAtTheEndOfItsSection", Le(u"[A]\r\nx=1\r\n; c\r\n\r\n[B]\r\n"), "A", "n",
        "v", Le(u"[A]\r\nx=1\r\n; c\r\nn=v\r\n\r\n[B]\r\n")},
    WriteCase{"AddsASectionAtTheEnd", Be(u"[A]\r\nx=1\r\n"), "B", "y", "2",
        Be(u"[A]\r\nx=1\r\n[B]\r\ny=2\r\n")},
    WriteCase{"KeepsLfLineEnds", Le(u"[S]\nk=1\n"), "S", "j", "2", Le(u"[S]\nk=1\nj=2\n")},
    WriteCase{"EndsAnUnendedLastLine", Le(u"[S]\r\nk=1"), "T", "j", "2",
        Le(u"[S]\r\nk=1\r\n[T]\r\nj=2\r\n")},
    WriteCase{"GivesABareNameItsValue", Le(u"[S]\r\nk\r\n"), "S", "k", "v", Le(u"[S]\r\nk=v\r\n")},
    WriteCase{"SameValueChangesNothing", Le(u"[S]\nk=1\n"), "s", "K", "1", Le(u"[S]\nk=1\n")},
    WriteCase{"DeletesAKey", Le(u"[S]\r\nk=1\r\nj=2\r\n"), "S", "k", nullptr,
        Le(u"[S]\r\nj=2\r\n")},
    WriteCase{"DeletesASection", Be(u"[A]\r\nx=1\r\n[B]\r\ny=1\r\n"), "A", nullptr, nullptr,
        Be(u"[B]\r\ny=1\r\n")},
    WriteCase{"DeletesTheLastSectionAndKeepsTheMark", Le(u"[S]\r\nk=1\r\n"), "S", nullptr, nullptr,
        Le(u"")},
    WriteCase{"FillsAFileOfAMarkOnly", "\xFE\xFF", "S", "k", "v", Be(u"[S]\r\nk=v\r\n")},
    WriteCase{"WritesBeyondAscii", Le(u"[S]\r\nk=1\r\n"), "\xC3\x89t\xC3\xA9", "\xC3\xA9",
        "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
        Le(u"[S]\r\nk=1\r\n[\u00C9t\u00E9]\r\n\u00E9=h\u00E9\u20AC\U0001F600\r\n")},
    WriteCase{"WritesBeyondAsciiBigEndian", Be(u"[S]\r\nk=1\r\n"), "S", "k", "\xF0\x9F\x98\x80",
        Be(u"[S]\r\nk=\U0001F600\r\n")},
    WriteCase{"BytesNotUtf8BecomeReplacements", Le(u"[S]\r\nk=1\r\n"), "S", "k",
        "\xE9z\xED\xA0\x80\xF0\x9F\x98", Le(u"[S]\r\nk=\xFFFDz\xFFFD\xFFFD\xFFFD\xFFFD\r\n")},
    WriteCase{"FindsItsPlaceAfterCharactersBeyondAscii",
        Le(u"[\u00C9]\r\nk=\U0001F600\u00E9\xD800\r\nj=1\r\n"), "\xC3\x89", "j", "2",
        Le(u"[\u00C9]\r\nk=\U0001F600\u00E9\xD800\r\nj=2\r\n")},
    WriteCase{"ReplacesAValueHoldingALoneSurrogate", Be(u"[S]\r\nk=a\xDC00" u"b\r\n"), "S", "k",
        "c", Be(u"[S]\r\nk=c\r\n")},
    WriteCase{"KeepsLoneSurrogatesElsewhere", Le(u"[S]\r\na=x\xD800y\r\n\xDC00\r\n"), "S", "b", "1",
        Le(u"[S]\r\na=x\xD800y\r\n\xDC00\r\nb=1\r\n")},
    WriteCase{"MakesALastOddByteAReplacement", Le(u"[S]\r\nk=v") + "A", "S", "j", "w",
        Le(u"[S]\r\nk=v\xFFFD\r\nj=w\r\n")},
    WriteCase{"MakesALastOddByteAReplacementBigEndian", Be(u"[S]\r\nk=1\r\n") + "A", "S", "k", "2",
        Be(u"[S]\r\nk=2\r\n\xFFFD")},
    WriteCase{"WithoutAMarkIsWrittenAsAnsi", Utf16(u"[S]\r\nk=1\r\n", false, false), "S", "k", "2",
        Utf16(u"[S]\r\nk=1\r\n", false, false) + "\r\n[S]\r\nk=2\r\n"}), ParamName);
// clang-format on

using Write = FileTest;

TEST_F(Write, AFileWrittenIsReadBack) {
  const std::vector<std::pair<std::string, std::string>> values = {
      {"Top", "1935"}, {"Left", "8100"}, {"Empty", ""}, {"Spaced", "a b  c"}, {"Top", "-750"}};
  for (const auto& [key, value] : values)
    ASSERT_TRUE(
        WritePrivateProfileStringA("Tavik's Ozzlebeck", key.c_str(), value.c_str(), file_.c_str()));
  EXPECT_EQ(ReadValue(file_, "TAVIK'S OZZLEBECK", "TOP"), (Read{4, "-750"}));
  EXPECT_EQ(ReadValue(file_, "TAVIK'S OZZLEBECK", "LEFT"), (Read{4, "8100"}));
  EXPECT_EQ(ReadValue(file_, "TAVIK'S OZZLEBECK", "EMPTY", "d"), (Read{0, ""}));
  EXPECT_EQ(ReadValue(file_, "TAVIK'S OZZLEBECK", "SPACED"), (Read{6, "a b  c"}));
}

TEST_F(Write, ANotepadFileIsReadAndWrittenAndStaysUtf16) {
  const std::string file = dir_ / "ozzlebeck.ini";
  WriteFile(file, Le(u"[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n"));
  EXPECT_EQ(ReadValue(file, "Tavik's Ozzlebeck", "Top"), (Read{4, "1935"}));
  EXPECT_EQ(ReadValue(file, "Tavik's Ozzlebeck", "Left"), (Read{4, "8100"}));
  EXPECT_TRUE(WritePrivateProfileStringA("Tavik's Ozzlebeck", "Top", "-750", file.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("Tavik's Ozzlebeck", "Left", "12", file.c_str()));
  EXPECT_EQ(ReadFileIfAny(file), Le(u"[Tavik's Ozzlebeck]\r\nTop=-750\r\nLeft=12\r\n"));
  EXPECT_EQ(ReadValue(file, "Tavik's Ozzlebeck", "Top"), (Read{4, "-750"}));
}

TEST_F(Write, AUtf16FileFollowsLinksAndKeepsItsPermissions) {
  std::filesystem::create_directory(dir_ / "real");
  WriteFile(dir_ / "real/settings.ini", Be(u"[S]\r\nk=1\r\n"), 0604);
  std::filesystem::create_symlink("real/settings.ini", dir_ / "link.ini");
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "2", (dir_ / "link.ini").c_str()));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.ini"));
  EXPECT_EQ(ReadFileIfAny(dir_ / "real/settings.ini"), Be(u"[S]\r\nk=2\r\n"));
  EXPECT_EQ(ModeOf(dir_ / "real/settings.ini"), 0604u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "real"), {}), 1);
}

TEST_F(Write, SameValueLeavesTheFileItself) {
  WriteFile(file_, "[S]\r\nk=1\r\n");
  struct stat before, after;
  ASSERT_EQ(stat(file_.c_str(), &before), 0);
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "1", file_.c_str()));
  ASSERT_EQ(stat(file_.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(Write, FollowsSymbolicLinksAndKeepsThem) {
  std::filesystem::create_directory(dir_ / "real");
  WriteFile(dir_ / "real/settings.ini", "[S]\r\nk=1\r\n");
  std::filesystem::create_symlink("real/settings.ini", dir_ / "link.ini");
  std::filesystem::create_symlink(dir_ / "link.ini", dir_ / "link2.ini");
  std::filesystem::create_symlink("target.ini", dir_ / "dangling.ini");
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "2", (dir_ / "link2.ini").c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "3", (dir_ / "dangling.ini").c_str()));
  for (const char* link : {"link.ini", "link2.ini", "dangling.ini"})
    EXPECT_TRUE(std::filesystem::is_symlink(dir_ / link)) << link;
  EXPECT_EQ(ReadFileIfAny(dir_ / "real/settings.ini"), "[S]\r\nk=2\r\n");
  EXPECT_EQ(ReadFileIfAny(dir_ / "target.ini"), "[S]\r\nk=3\r\n");
}

TEST_F(Write, KeepsThePermissionsAndFollowsTheUmaskForANewFile) {
  WriteFile(dir_ / "old.ini", "[S]\r\nk=1\r\n", 0604);
  const mode_t mask = umask(027);
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "2", (dir_ / "old.ini").c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "1", (dir_ / "new.ini").c_str()));
  umask(mask);
  EXPECT_EQ(ModeOf(dir_ / "old.ini"), 0604u);
  EXPECT_EQ(ModeOf(dir_ / "new.ini"), 0640u);
}

TEST_F(Write, FailsWhereNoFileCanBe) {
  WriteFile(dir_ / "x", "not a folder");
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1", (dir_ / "x/settings.ini").c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1", (dir_ / "missing/s.ini").c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1", dir_.path().c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1", ""));
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1", nullptr));
  EXPECT_EQ(ReadFileIfAny(dir_ / "x"), "not a folder");
  EXPECT_EQ(Leftovers(dir_, dir_ / "x"), std::vector<std::string>());
}

TEST_F(Write, InAReadOnlyFolderFailsAndLeavesTheFile) {
  RunUnprivileged([] {
    TempDir dir;
    const std::string file = dir / "settings.ini";
    WriteFile(file, "[S]\r\nk=1\r\n");
    ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "2", file.c_str()));
    chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(ReadFileIfAny(file), "[S]\r\nk=1\r\n");
  });
}

TEST_F(Write, LeavesAFileBeyondTheLimitAlone) {
  const std::string content =
      "[S]\r\nk=1\r\n;" + std::string(platform::posix::kProfileWriteLimit, '-') + "\r\n";
  WriteFile(file_, content);
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "2", file_.c_str()));
  EXPECT_EQ(ReadFileIfAny(file_), content);
  EXPECT_EQ(Leftovers(dir_, file_), std::vector<std::string>());
}

// ---------------------------------------------------------------------------------------------
// A write is whole or nothing.

// Run on an ANSI file and on a UTF-16 one (the parameter).
class AtomicWriteTest : public FileTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    // Several chunks of content, so that a write stops between chunks too.
    before_ = "[S]\r\nk=old\r\n";
    for (int i = 0; before_.size() < 3 * platform::posix::kProfileWriteChunk; ++i)
      before_ += "; filler line " + std::to_string(i) + "\r\n";
    after_ = before_;
    after_.replace(after_.find("old"), 3, "new");
    if (GetParam()) {
      before_ = Le(std::u16string(before_.begin(), before_.end()));
      after_ = Le(std::u16string(after_.begin(), after_.end()));
    }
    WriteFile(file_, before_);
  }
  void TearDown() override {
    SetProfileWriteHook(nullptr);
    SetProfileSyncCall(nullptr);
  }

  BOOL Write() { return WritePrivateProfileStringA("S", "k", "new", file_.c_str()); }

  // Runs a write in a child process that is killed at the write's step `stop`.
  void WriteKilledAt(int stop) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int seen = 0;
      SetProfileWriteHook([&](ProfileWriteStep) {
        if (++seen == stop) raise(SIGKILL);
      });
      Write();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "step " << stop;
  }

  // The number of steps a whole write takes.
  int CountSteps() {
    int steps = 0;
    SetProfileWriteHook([&](ProfileWriteStep) { ++steps; });
    EXPECT_TRUE(Write());
    SetProfileWriteHook(nullptr);
    WriteFile(file_, before_);
    return steps;
  }

  std::string before_;
  std::string after_;
};

TEST_P(AtomicWriteTest, AWriteFailingAtAnyStepLeavesTheOldFileAndNoTemporary) {
  const int steps = CountSteps();
  for (int stop = 1; stop <= steps; ++stop) {
    int seen = 0;
    SetProfileWriteHook([&](ProfileWriteStep) {
      if (++seen == stop) throw std::runtime_error("write stopped");
    });
    EXPECT_FALSE(Write()) << "step " << stop;
    EXPECT_EQ(ReadFileIfAny(file_), before_) << "step " << stop;
    EXPECT_EQ(Leftovers(dir_, file_), std::vector<std::string>()) << "step " << stop;
  }
}

TEST_P(AtomicWriteTest, AProcessKilledAtAnyStepLeavesAWholeFile) {
  const int steps = CountSteps();
  for (int stop = 1; stop <= steps; ++stop) {
    ASSERT_NO_FATAL_FAILURE(WriteKilledAt(stop));
    const std::optional<std::string> now = ReadFileIfAny(file_);
    EXPECT_TRUE(now == before_ || now == after_) << "step " << stop;
    // A killed write cannot tidy up; its temporary file is all it leaves.
    EXPECT_LE(Leftovers(dir_, file_).size(), 1u) << "step " << stop;
    for (const std::string& name : Leftovers(dir_, file_)) std::filesystem::remove(dir_ / name);
    WriteFile(file_, before_);
  }
}

TEST_P(AtomicWriteTest, AFullDiskLeavesTheOldFileAndNoTemporary) {
  // A file-size limit makes the writes into the temporary file fail as a full disk would.
  const auto written = RunInChild(
      [&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        return std::string(Write() ? "written" : "failed");
      },
      true);
  EXPECT_EQ(written, "failed");
  EXPECT_EQ(ReadFileIfAny(file_), before_);
  EXPECT_EQ(Leftovers(dir_, file_), std::vector<std::string>());
}

// Data that may not be on disk is no save: a failed sync fails the write before the rename.
TEST_P(AtomicWriteTest, AFailedSyncFailsTheWriteAndLeavesTheOldFileAndNoTemporary) {
  int syncs = 0;
  static int* counter = nullptr;
  counter = &syncs;
  SetProfileSyncCall([](int) {
    ++*counter;
    errno = EIO;
    return -1;
  });
  EXPECT_FALSE(Write());
  EXPECT_EQ(syncs, 1);
  EXPECT_TRUE(ReadFileIfAny(file_) == before_) << "the old file changed";
  EXPECT_EQ(Leftovers(dir_, file_), std::vector<std::string>());
  // The same write with a sync that works goes through.
  SetProfileSyncCall(nullptr);
  EXPECT_TRUE(Write());
  EXPECT_TRUE(ReadFileIfAny(file_) == after_) << "the write did not go through";
}

// What a killed save left is gone after the next save of the same file, whatever step it died
// at; the temporary files of other settings files, and files merely named alike, stay.
TEST_P(AtomicWriteTest, TheNextWriteRemovesWhatAKilledWriteLeft) {
  std::vector<std::string> others = {".other.ini.Ab3xY9", ".settings.ini.Ab3xY", "keep.txt",
                                     ".settings.ini.Ab-xY9"};
  for (const std::string& name : others) WriteFile(dir_ / name, "x");
  std::ranges::sort(others);
  const int steps = CountSteps();
  for (int stop = 1; stop <= steps; ++stop) {
    ASSERT_NO_FATAL_FAILURE(WriteKilledAt(stop));
    WriteFile(file_, before_);
    EXPECT_TRUE(Write()) << "step " << stop;
    EXPECT_TRUE(ReadFileIfAny(file_) == after_) << "step " << stop;
    EXPECT_EQ(Leftovers(dir_, file_), others) << "step " << stop;
    WriteFile(file_, before_);
  }
}

// A save that runs keeps its temporary file while another save of the same file goes on.
TEST_P(AtomicWriteTest, AWriteDoesNotRemoveTheTemporaryFileOfAWriteThatRuns) {
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SetProfileWriteHook([&](ProfileWriteStep step) {
      if (step != ProfileWriteStep::TemporaryCreated) return;
      char byte = 'x';
      if (write(toParent[1], &byte, 1) != 1 || read(toChild[0], &byte, 1) != 1) _exit(3);
    });
    _exit(Write() ? 0 : 1);
  }
  char byte = 0;
  ASSERT_EQ(read(toParent[0], &byte, 1), 1);
  const std::vector<std::string> running = Leftovers(dir_, file_);
  EXPECT_EQ(running.size(), 1u);
  EXPECT_TRUE(WritePrivateProfileStringA("S", "other", "1", file_.c_str()));
  EXPECT_EQ(Leftovers(dir_, file_), running);
  ASSERT_EQ(write(toChild[1], &byte, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(ReadFileIfAny(file_) == after_) << "the running write did not complete";
  EXPECT_EQ(Leftovers(dir_, file_), std::vector<std::string>());
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
}

INSTANTIATE_TEST_SUITE_P(Files, AtomicWriteTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Utf16" : "Ansi"; });

}  // namespace
