#include "settings/ini_store.h"

#include <cstring>
#include <filesystem>
#include <limits>

#include "settings/ini_text.h"
#include "settings_test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

// The whole literal, NULs included.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

class IniStoreTest : public ScratchFolder {
 protected:
  // An open file cannot be deleted on Windows: close it before the folder goes.
  void TearDown() override {
    store.Close();
    ScratchFolder::TearDown();
  }
  // Opens a store on a file holding exactly `bytes`.
  void OpenOn(const std::string& bytes) {
    Put("s.ini", bytes);
    store.SetLocation(Folder(), "s");
    ASSERT_TRUE(store.Open(false));
  }
  int32_t Int(const char* section, const char* key) {
    int32_t v = 0;
    store.ReadInt(section, key, &v, -999);
    return v;
  }
  IniStore store;
};

struct LookupCase {
  std::string file;
  const char* section;
  const char* key;
  int32_t expected;  // -999: the default
};

TEST_F(IniStoreTest, LookupSemantics) {
  const LookupCase cases[] = {
      {"[PluginSettings]\r\nTVLine = 120 \r\n", "PluginSettings", "TVLine", 120},
      {"[pluginsettings]\r\nTVLine=1\r\n", "PluginSettings", "TVLine", -999},
      {"[PluginSettings]\r\ntvline=1\r\n", "PluginSettings", "TVLine", -999},
      {"  [A]\t \nX=3\n", "A", "X", 3},
      {"[ A ]\nX=3\n", "A", "X", -999},
      {"[A]\nX=3\n", "  A\t", " X ", 3},           // caller's texts trimmed
      {"[A]\nX=\nX=7\n", "A", "X", -999},          // empty first occurrence decides
      {"[A]\nX=7\nX=8\n", "A", "X", 7},
      {"[A]\nX=7\n[B]\nY=1\n", "A", "Y", -999},    // the next header ends the section
      {"X=5\n[A]\nY=1\n", "A", "X", -999},         // above the first header
      {"X=5\n[A]\nY=1\n", "", "X", -999},
      {"[A]\n\n  \nnoequals\n  X \t= 4\n", "A", "X", 4},
      {"[A]\n;X=6\n", "A", ";X", 6},               // no comment syntax
      {"[A]\nX=abc\n", "A", "X", 0},               // present but not a number
      {"[A]\nX=42", "A", "X", 42},                 // last line without LF
      {"[A]\nX=1\x1A\n[B]\nY=2\n", "B", "Y", -999},  // Ctrl-Z ends the text
      {"[A]\nX=1\x1A\n[B]\nY=2\n", "A", "X", 1},
      // A NUL ends the text of its own line only, as a C-string reading of the line would.
      {Bytes("[PluginSettings]\r\nTVLine=5\0x\r\nMode=2\r\n"), "PluginSettings", "Mode", 2},
      {Bytes("[PluginSettings]\r\nTVLine=5\0x\r\nMode=2\r\n"), "PluginSettings", "TVLine", 5},
      {Bytes("[A]\nX=1\n\0[B]\nY=2\n"), "B", "Y", -999},  // the header after the NUL is cut
      {Bytes("[A]\nX=1\n\0[B]\nY=2\n"), "A", "Y", 2},      // ... so Y lies in A
      {Bytes("[A]\0[B]\nX=3\n"), "A", "X", 3},
      {Bytes("[A]\nX\0=5\nX=6\n"), "A", "X", 6},           // "X": no "=", skipped
      {Bytes("[A]\nX=\0 5\nX=6\n"), "A", "X", -999},       // "X=": empty first occurrence
      {Bytes("[A]\nX=7\r\0\r\n"), "A", "X", 7},           // "X=7\r": the CR stays in the value
      {Bytes("\0\n[A]\n\0\0\nX=8"), "A", "X", 8},
      {"", "A", "X", -999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    OpenOn(c.file);
    EXPECT_EQ(Int(c.section, c.key), c.expected);
    store.Close();
  }
}

TEST_F(IniStoreTest, ValueTextKeepsBlanksAndEqualsAndCallerKeyIsUntouched) {
  OpenOn("[A]\r\nK = a=b \r\n");
  char key[] = "  K  ";
  std::string text;
  store.ReadText("A", key, &text, "dflt");
  EXPECT_EQ(text, " a=b ");
  EXPECT_STREQ(key, "  K  ");
  store.ReadText("A", "missing", &text, "dflt");
  EXPECT_EQ(text, "dflt");
}

TEST_F(IniStoreTest, SectionScanWrapsAroundFromTheLastSectionFound) {
  // Byte offsets: [A] at 0, [B] at 10, second [A] at 15 (CR LF lines).
  OpenOn("[A]\r\nX=1\r\n[B]\r\n[A]\r\nX=2\r\n");
  EXPECT_EQ(Int("A", "X"), 1);
  EXPECT_EQ(store.SectionCursor(), 0u);
  EXPECT_TRUE(store.FindSection("B"));
  EXPECT_EQ(store.SectionCursor(), 10u);
  EXPECT_EQ(Int("A", "X"), 2);  // the scan goes on from B and meets the later A first
  EXPECT_EQ(store.SectionCursor(), 15u);
  EXPECT_EQ(Int("B", "X"), -999);  // found by wrapping past the end
  EXPECT_EQ(store.SectionCursor(), 10u);
  EXPECT_FALSE(store.FindSection("C"));  // one full circle, then stop
  EXPECT_EQ(store.SectionCursor(), 10u);
  store.Close();
  OpenOn("[A]\nX=1\n[B]\nY=2\n");  // LF-only lines: offsets still exact
  EXPECT_TRUE(store.FindSection("B"));
  EXPECT_EQ(store.SectionCursor(), 8u);
  store.Close();
  // The bytes after a NUL still count in the offsets; the scan wraps past them.
  OpenOn(Bytes("[A]\0zz\nX=1\n[B]\0\0\r\nY=2\n"));
  EXPECT_TRUE(store.FindSection("B"));
  EXPECT_EQ(store.SectionCursor(), 11u);
  EXPECT_EQ(Int("A", "X"), 1);
  EXPECT_EQ(store.SectionCursor(), 0u);
  EXPECT_EQ(Int("B", "Y"), 2);
  EXPECT_EQ(store.SectionCursor(), 11u);
  EXPECT_FALSE(store.FindSection("C"));
}

TEST_F(IniStoreTest, DecimalParseWrapsAndWritersUseExactFormats) {
  EXPECT_EQ(ParseDecimal(" \t\v+12x"), 12u);
  EXPECT_EQ(ParseDecimal("-"), 0u);
  EXPECT_EQ(ParseDecimal("18446744073709551616"), 0u);  // 2^64 wraps to 0
  EXPECT_EQ(static_cast<uint32_t>(ParseDecimal("4294967297")), 1u);
  EXPECT_EQ(static_cast<int64_t>(ParseDecimal("-9223372036854775808")), std::numeric_limits<int64_t>::min());

  OpenOn("[A]\nU=-5\nB=300\nS=40000\nL=18446744073709551615\n");
  uint32_t u = 0;
  uint8_t b = 0;
  int16_t s = 0;
  uint64_t l = 0;
  store.ReadUInt("A", "U", &u, 0);
  store.ReadByte("A", "B", &b, 0);
  store.ReadShort("A", "S", &s, 0);
  store.ReadUInt64("A", "L", &l, 0);
  EXPECT_EQ(u, 4294967291u);
  EXPECT_EQ(b, 44);       // 300 - 256
  EXPECT_EQ(s, -25536);   // 40000 - 65536
  EXPECT_EQ(l, std::numeric_limits<uint64_t>::max());
  store.Close();

  ASSERT_TRUE(store.OpenForWrite());
  store.WriteSection(" A ");
  store.WriteUInt("U", u);
  store.WriteByte(" B", 255);
  store.WriteShort("S", -2);
  store.WriteUShort("W", 65535);
  store.WriteInt("I", std::numeric_limits<int32_t>::min());
  store.WriteInt64("J", std::numeric_limits<int64_t>::min());
  store.WriteUInt64("L", l);
  store.WriteKey("T", " x ");
  EXPECT_TRUE(store.Close());
  EXPECT_EQ(Get("s.ini"),
            "[A]\r\nU=4294967291\r\nB=255\r\nS=-2\r\nW=65535\r\nI=-2147483648\r\n"
            "J=-9223372036854775808\r\nL=18446744073709551615\r\nT= x \r\n");
}

TEST_F(IniStoreTest, TablesRoundTripEveryTypeAndSkipUnknownCodes) {
  uint8_t b = 0;
  int16_t s = 0;
  uint16_t us = 0;
  uint32_t u = 0;
  int32_t i = 0, skipped = 77;
  int64_t l = 0;
  uint64_t ul = 0;
  std::string t;
  static const char kText[] = "hello";
  const SettingRecord table[] = {
      {0, "b", &b, 0x1FF},  {1, "s", &s, 0x18000}, {3, "us", &us, 7},           {9, "u", &u, -1},
      {8, "i", &i, -3},     {10, "l", &l, -4},     {11, "ul", &ul, 5},          {12, "t", &t, TextDefault(kText)},
      {13, "x", &skipped, 1},
  };
  const int n = sizeof table / sizeof table[0];
  OpenOn("[Z]\n");
  store.LoadTable("Z", table, n);  // all defaults, narrowed to the low bits
  EXPECT_EQ(b, 0xFF);
  EXPECT_EQ(s, -32768);
  EXPECT_EQ(us, 7);
  EXPECT_EQ(u, 0xFFFFFFFFu);
  EXPECT_EQ(i, -3);
  EXPECT_EQ(l, -4);
  EXPECT_EQ(ul, 5u);
  EXPECT_EQ(t, "hello");
  EXPECT_EQ(skipped, 77);
  store.Close();

  b = 9, s = -9, us = 60000, u = 4000000000u, i = -2000000000, l = -(int64_t{1} << 40), ul = ~uint64_t{0} - 1;
  t = "a=b";
  ASSERT_TRUE(store.OpenForWrite());
  store.WriteSection("Z");
  store.StoreTable(table, n);
  ASSERT_TRUE(store.Close());
  EXPECT_EQ(Get("s.ini"),
            "[Z]\r\nb=9\r\ns=-9\r\nus=60000\r\nu=4000000000\r\ni=-2000000000\r\nl=-1099511627776\r\n"
            "ul=18446744073709551614\r\nt=a=b\r\n");
  b = 0, s = 0, us = 0, u = 0, i = 0, l = 0, ul = 0, t.clear();
  ASSERT_TRUE(store.Open(false));
  store.LoadTable("Z", table, n);
  EXPECT_EQ(b, 9);
  EXPECT_EQ(s, -9);
  EXPECT_EQ(us, 60000);
  EXPECT_EQ(u, 4000000000u);
  EXPECT_EQ(i, -2000000000);
  EXPECT_EQ(l, -(int64_t{1} << 40));
  EXPECT_EQ(ul, ~uint64_t{0} - 1);
  EXPECT_EQ(t, "a=b");
}

TEST_F(IniStoreTest, OpenCreatesMissingFileAndFailsSafely) {
  store.SetLocation(Folder(), "new");
  EXPECT_EQ(store.FullPath(), Folder() + "new.ini");
  ASSERT_TRUE(store.Open(false));
  EXPECT_TRUE(std::filesystem::exists(PathOf("new.ini")));
  EXPECT_FALSE(store.ReadOpenFailed());
  store.Close();

  store.SetLocation(Folder() + "no/such/", "x");  // missing folder: defaults, no file
  EXPECT_FALSE(store.Open(false));
  EXPECT_TRUE(store.ReadOpenFailed());
  int32_t v = 1;
  store.ReadInt("A", "X", &v, 5);
  EXPECT_EQ(v, 5);
  EXPECT_FALSE(store.OpenForWrite());

  store.SetLocation("", "x");
  EXPECT_EQ(store.FullPath(), "");
  EXPECT_FALSE(store.Open(false));
}

TEST_F(IniStoreTest, SaveReplacesTheWholeFileOnlyWhenComplete) {
  OpenOn("[Other]\r\nK=1\r\n[A]\r\nX=1\r\n");
  store.WriteKey("X", "2");  // writers do nothing on a file opened for reading
  store.Close();
  EXPECT_EQ(Get("s.ini"), "[Other]\r\nK=1\r\n[A]\r\nX=1\r\n");

  store.SetFileSystem(&kReplaceFails);
  ASSERT_TRUE(store.OpenForWrite());
  EXPECT_FALSE(store.WritingInPlace());
  store.WriteSection("A");
  EXPECT_FALSE(store.Close());
  EXPECT_EQ(Get("s.ini"), "[Other]\r\nK=1\r\n[A]\r\nX=1\r\n");
  EXPECT_EQ(FilesIn(dir_), 1u);  // the new file is gone

  store.SetFileSystem(nullptr);
  ASSERT_TRUE(store.OpenForWrite());
  store.WriteSection("A");
  store.WriteKey("X", "3");
  EXPECT_TRUE(store.Close());
  EXPECT_EQ(Get("s.ini"), "[A]\r\nX=3\r\n");
  EXPECT_EQ(FilesIn(dir_), 1u);  // no leftovers

  std::filesystem::create_directory(PathOf("d.ini"));  // a settings file we cannot open
  store.SetLocation(Folder(), "d");
  EXPECT_FALSE(store.OpenForWrite());
  EXPECT_TRUE(std::filesystem::is_directory(PathOf("d.ini")));
}

TEST_F(IniStoreTest, WritesInPlaceOnlyWhenTheTemporaryFileCannotBeCreated) {
  Put("s.ini", "[A]\r\nX=1\r\nLonger=tail of the old file\r\n");
  store.SetLocation(Folder(), "s");
  ASSERT_TRUE(store.OpenForWrite());
  EXPECT_FALSE(store.WritingInPlace());  // the crash-safe path wherever the folder allows it
  store.Close();

  g_injected = {};
  store.SetFileSystem(&kNoNewFiles);
  ASSERT_TRUE(store.OpenForWrite());
  EXPECT_TRUE(store.WritingInPlace());
  store.WriteSection("A");
  store.WriteInt("X", 2);
  EXPECT_TRUE(store.Close());
  EXPECT_FALSE(store.WritingInPlace());
  EXPECT_EQ(g_injected.tempCreates, 1);
  EXPECT_EQ(g_injected.inPlaceOpens, 1);
  EXPECT_EQ(Get("s.ini"), "[A]\r\nX=2\r\n");  // no tail of the longer old file
  EXPECT_EQ(FilesIn(dir_), 1u);

  // Names already taken, by a file or a folder, are not a refusal: another name is used and
  // what carries those names is left alone. The new file is on the disk before it moves in.
  g_fileCalls.clear();
  store.SetFileSystem(&kRecordingFiles);
  Put("s.ini.tmp", "unrelated");
  Put("s.ini.1.tmp", "unrelated too");
  std::filesystem::create_directory(PathOf("s.ini.2.tmp"));
  ASSERT_TRUE(store.OpenForWrite());
  EXPECT_FALSE(store.WritingInPlace());
  store.WriteInt("X", 3);
  EXPECT_TRUE(store.Close());
  EXPECT_EQ(g_fileCalls, "sync s.ini.3.tmp, replace s.ini.3.tmp, ");
  EXPECT_EQ(Get("s.ini"), "X=3\r\n");
  EXPECT_EQ(Get("s.ini.tmp"), "unrelated");
  EXPECT_EQ(Get("s.ini.1.tmp"), "unrelated too");
  EXPECT_TRUE(std::filesystem::is_directory(PathOf("s.ini.2.tmp")));
  EXPECT_EQ(FilesIn(dir_), 4u);
  for (const char* name : {"s.ini.tmp", "s.ini.1.tmp", "s.ini.2.tmp"}) std::filesystem::remove(PathOf(name));
  store.SetFileSystem(&kNoNewFiles);

  // Without the file, the fallback creates nothing: the folder refused the temporary file.
  store.SetLocation(Folder(), "absent");
  EXPECT_FALSE(store.OpenForWrite());
  EXPECT_FALSE(std::filesystem::exists(PathOf("absent.ini")));

  // Neither the temporary file nor the file itself: nothing changes.
  store.SetLocation(Folder(), "s");
  store.SetFileSystem(&kNothingWritable);
  EXPECT_FALSE(store.OpenForWrite());
  EXPECT_EQ(Get("s.ini"), "X=3\r\n");
  EXPECT_EQ(FilesIn(dir_), 1u);
}

TEST_F(IniStoreTest, OnlyAFolderThatRefusesNewFilesGetsTheInPlaceRewrite) {
  struct Case {
    int error;  // of the temporary file's creation
    bool saved;
  };
  const Case cases[] = {{EACCES, true}, {EPERM, true}, {ENOSPC, false}, {ENAMETOOLONG, false}, {EROFS, false}};
  store.SetLocation(Folder(), "s");
  store.SetFileSystem(&kFailingTemporary);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::strerror(c.error));
    Put("s.ini", "[A]\r\nX=1\r\n");
    g_temporaryError = c.error;
    EXPECT_EQ(store.OpenForWrite(), c.saved);
    EXPECT_EQ(store.WritingInPlace(), c.saved);
    store.WriteInt("X", 2);
    EXPECT_EQ(store.Close(), c.saved);
    EXPECT_EQ(Get("s.ini"), c.saved ? "X=2\r\n" : "[A]\r\nX=1\r\n");
    EXPECT_EQ(FilesIn(dir_), 1u);
  }
}

// Files no save of ours writes. Every lookup ends and finds what a reader of the text would,
// from the text as it was when the store was opened.
TEST_F(IniStoreTest, HostileFilesAreReadOnceAndWhole) {
  const std::string longLine(3u << 20, 'x');  // beyond the kept length of a line
  struct Case {
    const char* what;
    std::string file;
    bool shrink;  // the file is emptied after the first lookup
    int32_t y;
    uint32_t cursor;
  };
  const Case cases[] = {
      {"shrinks after the open", "[A]\r\nX=1\r\n" + std::string(8192, ' ') + "\r\nY=2\r\n", true, 2, 0},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF[A]\r\nY=3\r\n", false, 3, 3},
      {"3 MB line before the section", longLine + "\r\n[A]\r\nY=4\r\n", false, 4, (3u << 20) + 2},
      {"3 MB line inside it", "[A]\r\nX=" + longLine + "\r\nY=5\r\n", false, 5, 0},
      {"3 MB header line", "[A]" + longLine + "\n[A]\nY=6\n", false, 6, (3u << 20) + 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenOn(c.file);
    Int("A", "X");
    if (c.shrink) std::filesystem::resize_file(PathOf("s.ini"), 0);
    EXPECT_EQ(Int("A", "Y"), c.y);
    EXPECT_EQ(store.SectionCursor(), c.cursor);
    store.Close();
  }
  // The mark the file had is written back; a file without one gets none.
  for (const std::string mark : {"\xEF\xBB\xBF", ""}) {
    OpenOn(mark + "[A]\r\nY=1\r\n");
    store.Close();
    ASSERT_TRUE(store.OpenForWrite());
    store.WriteSection("A");
    ASSERT_TRUE(store.Close());
    EXPECT_EQ(Get("s.ini"), mark + "[A]\r\n");
  }
}

#ifndef _WIN32
TEST_F(IniStoreTest, ReplaceKeepsTheOldFilesPermissions) {
  auto modeOf = [&](const char* name) {
    struct stat st = {};
    return stat(PathOf(name).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  };
  Put("s.ini", "[A]\r\nX=1\r\n");
  store.SetLocation(Folder(), "s");
  for (mode_t mode : {mode_t{0600}, mode_t{0664}, mode_t{0640}}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(PathOf("s.ini").c_str(), mode), 0);
    ASSERT_TRUE(store.OpenForWrite());
    ASSERT_FALSE(store.WritingInPlace());
    store.WriteKey("X", std::to_string(mode));
    ASSERT_TRUE(store.Close());
    EXPECT_EQ(modeOf("s.ini"), mode);
    EXPECT_EQ(Get("s.ini"), "X=" + std::to_string(mode) + "\r\n");
  }
  store.SetFileSystem(&kNoNewFiles);  // in place: the file, with all it carries, stays
  ASSERT_TRUE(store.OpenForWrite());
  ASSERT_TRUE(store.WritingInPlace());
  ASSERT_TRUE(store.Close());
  EXPECT_EQ(modeOf("s.ini"), mode_t{0640});
  EXPECT_EQ(Get("s.ini"), "");
}
#endif

}  // namespace
