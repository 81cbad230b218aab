#include "settings/settings_table.h"

#include <cstring>
#include <filesystem>

#include "common/settings_file_text.h"
#include "settings_test_util.h"

namespace {

class SettingsTableTest : public ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    store.SetLocation(Folder(), "KVP_LineView");
  }
  bool Load() { return LoadSettingsSequence(store, stored, live, x, y); }
  bool Save() { return SaveSettingsSequence(store, stored, live, x, y); }
  IniStore store;
  AnalysisSettings stored{}, live{};
  int32_t x = 0, y = 0;
};

TEST_F(SettingsTableTest, MissingFileGivesDefaultsAndTheExactTwentyLines) {
  EXPECT_TRUE(Load());
  EXPECT_EQ(x, -100);
  EXPECT_EQ(y, -100);
  EXPECT_EQ(live.TVLine, 100);
  EXPECT_EQ(live.WhiteLevel, 235);
  EXPECT_EQ(live.LevDiagMode, 1);
  EXPECT_EQ(std::memcmp(&live, &stored, sizeof live), 0);
  EXPECT_TRUE(Save());
  EXPECT_EQ(Get("KVP_LineView.ini"), kDefaultSettingsFile);
}

TEST_F(SettingsTableTest, PartialFilesAreCompletedAndOtherContentDropped) {
  Put("KVP_LineView.ini", "[Extra]\r\nMode=1\r\n[PluginSettings]\nMode=2\n[More]\nTVLine=7\n");
  Load();
  EXPECT_EQ(live.Mode, 2);
  EXPECT_EQ(live.TVLine, 100);
  ASSERT_TRUE(Save());
  EXPECT_EQ(Get("KVP_LineView.ini"), WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2"));

  Put("KVP_LineView.ini", "[PluginSettings]\r\nDlgWndPosX=321\r\nStopCount=4294967295\r\n");
  Load();
  EXPECT_EQ(x, 321);
  EXPECT_EQ(y, -100);
  EXPECT_EQ(live.StopCount, -1);  // taken unchanged, not range-checked
}

TEST_F(SettingsTableTest, SaveWritesLiveValuesAndPosition) {
  Load();
  live.TVLine = 575;  // e.g. lowered by Configure
  live.FFTSensitivity = 110;
  x = -3, y = 7;
  ASSERT_TRUE(Save());
  EXPECT_EQ(stored.TVLine, 575);
  std::string expected = WithLine(kDefaultSettingsFile, "TVLine=100", "TVLine=575");
  expected = WithLine(expected, "FFTSensitivity=40", "FFTSensitivity=110");
  expected = WithLine(WithLine(expected, "DlgWndPosX=-100", "DlgWndPosX=-3"), "DlgWndPosY=-100", "DlgWndPosY=7");
  EXPECT_EQ(Get("KVP_LineView.ini"), expected);
}

TEST_F(SettingsTableTest, FileUnreadableAtLoadIsNeverOverwritten) {
  std::filesystem::create_directory(PathOf("KVP_LineView.ini"));  // stands for a locked file
  EXPECT_FALSE(Load());
  EXPECT_EQ(live.TVLine, 100);
  std::filesystem::remove(PathOf("KVP_LineView.ini"));  // the lock goes away before shut-down
  EXPECT_FALSE(Save());
  EXPECT_FALSE(std::filesystem::exists(PathOf("KVP_LineView.ini")));
}

}  // namespace
