#include "host/channel_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

int NumberAfter(TunerState& state, int code) {
  bool known = false;
  state = ApplyHostCommand(state, code, &known);
  EXPECT_TRUE(known) << code;
  return CurrentChannel(state).number;
}

TEST(ChannelListTest, ChannelStepsWrapAroundTheList) {
  TunerState s;
  EXPECT_EQ(CurrentChannel(s).number, 1);
  EXPECT_EQ(NumberAfter(s, 1227), 3);
  EXPECT_EQ(NumberAfter(s, 1227), 6);
  EXPECT_EQ(NumberAfter(s, 1227), 21);
  EXPECT_EQ(NumberAfter(s, 1227), 1);
  EXPECT_EQ(NumberAfter(s, 1228), 21);
  EXPECT_EQ(NumberAfter(s, 1228), 6);
}

TEST(ChannelListTest, InputsAndBackToTheTunerChannel) {
  TunerState s;
  NumberAfter(s, 1227);  // channel 3
  EXPECT_EQ(NumberAfter(s, 1248), -2);
  EXPECT_STREQ(CurrentChannel(s).name, "VHS");
  EXPECT_EQ(NumberAfter(s, 1249), -3);
  EXPECT_STREQ(CurrentChannel(s).name, "S-VHS");
  EXPECT_EQ(NumberAfter(s, 1246), 3);  // the tuner kept its channel
  EXPECT_EQ(NumberAfter(s, 1246), 3);
  // A step from an input selects the tuner and steps from the channel it had.
  NumberAfter(s, 1248);
  EXPECT_EQ(NumberAfter(s, 1227), 6);
  NumberAfter(s, 1249);
  EXPECT_EQ(NumberAfter(s, 1228), 3);
}

TEST(ChannelListTest, UnknownCodesAndBadIndexesChangeNothingHarmful) {
  TunerState s;
  s.source = Source::Vhs;
  s.channelIndex = 2;
  for (int code : {0, 1226, 1229, 1247, 1250, -1}) {
    bool known = true;
    const TunerState after = ApplyHostCommand(s, code, &known);
    EXPECT_FALSE(known) << code;
    EXPECT_EQ(after.source, s.source);
    EXPECT_EQ(after.channelIndex, s.channelIndex);
    EXPECT_EQ(HostCommandName(code), nullptr);
  }
  TunerState wild;
  for (int index : {-7, 4, 99, -2147483647}) {
    wild.channelIndex = index;
    const int n = CurrentChannel(wild).number;  // stays inside the list
    EXPECT_TRUE(n == 1 || n == 3 || n == 6 || n == 21) << index;
    bool known = false;
    const TunerState up = ApplyHostCommand(wild, 1227, &known);
    EXPECT_GE(up.channelIndex, 0);
    EXPECT_LT(up.channelIndex, TunerChannelCount());
  }
}

TEST(ChannelListTest, ChannelInfoCarriesTheChannelWithABoundedName) {
  std::set<int> signals;
  for (int i = 0; i < TunerChannelCount(); ++i) {
    const TestChannel& c = TunerChannels()[i];
    const ChannelInfo info = MakeChannelInfo(c);
    EXPECT_EQ(info.channelNumber, c.number);
    EXPECT_EQ(info.frequencyHz, c.frequencyHz);
    EXPECT_GT(c.frequencyHz, 40000000);
    ASSERT_NE(std::memchr(info.channelName, 0, sizeof info.channelName), nullptr);
    EXPECT_STREQ(info.channelName, c.name);
    for (uint8_t b : info.reserved0) EXPECT_EQ(b, 0);
    signals.insert(int(c.signal));
    EXPECT_EQ(FirstChannelWithSignal(c.signal), i);
  }
  EXPECT_EQ(signals.size(), size_t(kTestSignalCount));  // every signal has a channel
  const ChannelInfo vhs = MakeChannelInfo(VhsInput());
  EXPECT_EQ(vhs.channelNumber, -2);
  EXPECT_EQ(vhs.frequencyHz, 0);
  // A name as long as the field is cut so it stays terminated.
  TestChannel longName = {5, "0123456789012345678901234567890123456789012345678901234567890123456789", 1, TestSignal::Bars};
  const ChannelInfo cut = MakeChannelInfo(longName);
  EXPECT_EQ(std::strlen(cut.channelName), 63u);
}

}  // namespace
