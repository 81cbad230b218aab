#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "plugin/analysis_state.h"
#include "settings/settings_table.h"
#include "plugin/tool_window_link.h"

namespace {

// A tool window that records what the frame path asks of it, and checks from another
// thread that the analysis lock is held whenever the frame path calls it.
class FakeWindow final : public ToolWindowLink {
 public:
  explicit FakeWindow(AnalysisState& state) : state_(state) {}
  bool IsVisible() override {
    CheckLockHeld();
    return visible;
  }
  void PostNotify(int wParam) override {
    CheckLockHeld();
    posted.push_back(wParam);
  }
  PlotCanvas* PageCanvas(int) override { return nullptr; }

  bool visible = true;
  std::vector<int> posted;
  int callsWithoutLock = 0;

 private:
  void CheckLockHeld() {
    bool acquired = false;
    std::thread probe([&] {
      acquired = state_.analysisLock.TryEnter();
      if (acquired) state_.analysisLock.Leave();
    });
    probe.join();
    if (acquired) ++callsWithoutLock;
  }
  AnalysisState& state_;
};

struct Frame {
  Frame(int w, int h, int format) : width(w), height(h), bytes(static_cast<size_t>(w) * h * (format == 1 ? 3 : 2)) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    std::memset(&channel, 0, sizeof channel);
    channel.channelNumber = -1;  // code 0: the channel the plug-in starts with
    info.pixels = bytes.data();
    info.channelInfo = &channel;
  }
  // Which rows (counted from the top of the picture) differ from `before`.
  std::vector<int> ChangedRows(const std::vector<uint8_t>& before, int bytesPerPixel, bool bottomUp) const {
    std::vector<int> rows;
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    for (int r = 0; r < height; ++r) {
      const size_t memRow = bottomUp ? height - 1 - r : r;
      if (std::memcmp(&bytes[memRow * rowBytes], &before[memRow * rowBytes], rowBytes) != 0) rows.push_back(r);
    }
    return rows;
  }
  int width, height;
  std::vector<uint8_t> bytes;
  ChannelInfo channel;
  FrameInfo info{};
};

class FramePath : public ::testing::Test {
 protected:
  void SetUp() override {
    state.liveSettings = DefaultSettings();
    state.storedSettings = state.liveSettings;
  }
  void TearDown() override {
    ReleaseStateBuffers(state);
    SetBufferAllocator(nullptr);
    EXPECT_EQ(window.callsWithoutLock, 0);
  }
  void Configure(int w, int h, int format) {
    FrameFormat f{w, h, 0, format};
    ConfigureState(state, f);
  }
  AnalysisState state;
  FakeWindow window{state};
};

TEST_F(FramePath, IgnoresFramesOutsideConfigureAndRelease) {
  Frame frame(16, 8, 0);
  const auto before = frame.bytes;
  ProcessFrameState(state, frame.info, &window);  // before Configure
  Configure(16, 8, 0);
  ReleaseStateBuffers(state);
  ProcessFrameState(state, frame.info, &window);  // after ReleaseBuffers
  EXPECT_TRUE(window.posted.empty());
  EXPECT_EQ(frame.bytes, before);
}

TEST_F(FramePath, HiddenWindowOrNullPixelsDoNothing) {
  Configure(16, 8, 0);
  Frame frame(16, 8, 0);
  const auto before = frame.bytes;
  frame.channel.channelNumber = 41;
  window.visible = false;
  ProcessFrameState(state, frame.info, &window);
  ProcessFrameState(state, frame.info, nullptr);
  window.visible = true;
  frame.info.pixels = nullptr;
  ProcessFrameState(state, frame.info, &window);
  EXPECT_TRUE(window.posted.empty());
  EXPECT_EQ(frame.bytes, before);
  EXPECT_EQ(state.currentChannelCode, 0);  // the channel is not even looked at
  EXPECT_EQ(state.channels[ChannelY][0], 0);
}

TEST_F(FramePath, SamplesMarksAndPostsWhileVisible) {
  state.liveSettings.TVLine = 3;
  Configure(8, 6, 0);
  Frame frame(8, 6, 0);
  const auto before = frame.bytes;
  frame.channel.channelNumber = -1;  // code 0, the initial one: no channel change
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(window.posted, std::vector<int>{1});
  EXPECT_EQ(frame.ChangedRows(before, 2, false), (std::vector<int>{3, 4}));
  // Sampled before marking: the arrays hold the unmarked picture.
  EXPECT_EQ(state.channels[ChannelY][0], before[3 * 8 * 2]);
  EXPECT_EQ(state.currentChannelName[0], '\0');
}

TEST_F(FramePath, Bgr24MarksBottomUpAndOnlyTheLastLineAtTheBottom) {
  Configure(8, 6, 1);
  state.liveSettings.TVLine = 5;
  Frame frame(8, 6, 1);
  const auto before = frame.bytes;
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(frame.ChangedRows(before, 3, true), std::vector<int>{5});
  EXPECT_EQ(frame.bytes[2], 255);  // line 5 is the first row in memory: B 0, G 0, R 255
  EXPECT_EQ(frame.bytes[0], 0);
}

TEST_F(FramePath, OutOfRangeLineIsClampedOnEveryFrame) {
  Configure(8, 6, 0);
  Frame frame(8, 6, 0);
  auto before = frame.bytes;
  StoreSetting(state.liveSettings.TVLine, -7);  // a hand-edited file
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(frame.ChangedRows(before, 2, false), (std::vector<int>{0, 1}));
  before = frame.bytes;
  StoreSetting(state.liveSettings.TVLine, 6000);  // set after Configure
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(frame.ChangedRows(before, 2, false), std::vector<int>{5});
}

TEST_F(FramePath, ConfigureLowersTheLineToTheFrame) {
  state.liveSettings.TVLine = 1000;
  Configure(720, 576, 0);
  EXPECT_EQ(state.liveSettings.TVLine, 575);
  state.liveSettings.TVLine = -3;  // a negative line is left for the frame path to clamp
  Configure(720, 576, 0);          // also: a second Configure without ReleaseBuffers
  EXPECT_EQ(state.liveSettings.TVLine, -3);
  EXPECT_TRUE(state.BuffersReady());
}

TEST_F(FramePath, ChannelChangePostsTwoBeforeOneAndClearsRingsOnly) {
  Configure(8, 6, 0);
  for (double* ring : state.snrHistory) std::fill(ring, ring + kSnrRingLength, 12.5);
  state.snrHistoryIndex[ChannelG] = 17;
  state.snrDisplay[0] = 33.0;
  Frame frame(8, 6, 0);
  frame.channel.channelNumber = 4;
  frame.channel.frequencyHz = 77250000;
  std::strcpy(frame.channel.channelName, "\xCA\xE0\xED\xE0\xEB 5");
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(window.posted, (std::vector<int>{2, 1}));
  EXPECT_EQ(state.currentChannelCode, 5);
  EXPECT_EQ(state.currentFrequencyHz, 77250000);
  EXPECT_STREQ(state.currentChannelName, "\xCA\xE0\xED\xE0\xEB 5");
  for (double* ring : state.snrHistory)
    for (int i = 0; i < kSnrRingLength; ++i) ASSERT_EQ(ring[i], 0.0);
  EXPECT_EQ(state.snrHistoryIndex[ChannelG], 17);
  EXPECT_EQ(state.snrDisplay[0], 33.0);

  // The same number again: nothing new, even with another name.
  window.posted.clear();
  std::strcpy(frame.channel.channelName, "other");
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(window.posted, std::vector<int>{1});
  EXPECT_STREQ(state.currentChannelName, "\xCA\xE0\xED\xE0\xEB 5");
}

TEST_F(FramePath, UnterminatedChannelNameIsBounded) {
  Configure(8, 6, 0);
  Frame frame(8, 6, 0);
  frame.channel.channelNumber = 9;
  std::memset(frame.channel.channelName, 'A', sizeof frame.channel.channelName);
  frame.channel.frequencyHz = 0x41414141;  // the bytes right after the name
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(std::strlen(state.currentChannelName), 64u);
}

TEST_F(FramePath, NullChannelInfoSkipsTheChannelCheck) {
  Configure(8, 6, 0);
  Frame frame(8, 6, 0);
  frame.info.channelInfo = nullptr;
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(window.posted, std::vector<int>{1});
}

TEST_F(FramePath, UnknownModeAndFormatStillPost) {
  Configure(8, 6, 7);  // unknown pixel format: neither sampled nor marked
  state.liveSettings.Mode = 9;
  Frame frame(8, 6, 0);
  const auto before = frame.bytes;
  ProcessFrameState(state, frame.info, &window);
  EXPECT_EQ(window.posted, std::vector<int>{1});
  EXPECT_EQ(frame.bytes, before);
  EXPECT_EQ(state.channels[ChannelR][0], 0);  // zero-filled at allocation
}

TEST_F(FramePath, NarrowFramesAreNeverOverrun) {
  // Widths below one unit of work: nothing sampled or marked, nothing read outside the frame.
  for (int format : {0, 1}) {
    for (int width : {1, 2, 3}) {
      Configure(width, 2, format);
      Frame frame(width, 2, format);
      ProcessFrameState(state, frame.info, &window);
    }
  }
  EXPECT_FALSE(window.posted.empty());
}

TEST_F(FramePath, AllocationFailureLeavesNothingHalfAllocated) {
  static int failAt;
  static int calls;
  for (failAt = 1; failAt <= 16; ++failAt) {
    calls = 0;
    SetBufferAllocator([](size_t count, size_t size) -> void* {
      return ++calls == failAt ? nullptr : std::calloc(count, size);
    });
    Configure(8, 6, 0);
    EXPECT_FALSE(state.BuffersReady()) << failAt;
    EXPECT_EQ(state.levelHistogram, nullptr) << failAt;
    for (int32_t* p : state.channels) EXPECT_EQ(p, nullptr) << failAt;
    for (double* p : state.snrHistory) EXPECT_EQ(p, nullptr) << failAt;
    Frame frame(8, 6, 0);
    const auto before = frame.bytes;
    ProcessFrameState(state, frame.info, &window);
    EXPECT_EQ(frame.bytes, before);
  }
  EXPECT_TRUE(window.posted.empty());
}

// The frame thread against a window thread that edits settings without the lock and reads
// what the frame path publishes under it. Meant for ThreadSanitizer.
TEST(FramePathThreads, FrameThreadAgainstWindowThread) {
  AnalysisState state;
  state.liveSettings = DefaultSettings();
  ConfigureState(state, FrameFormat{64, 16, 0, 0});

  class PostingWindow final : public ToolWindowLink {
   public:
    bool IsVisible() override { return true; }
    void PostNotify(int) override { pending.fetch_add(1); }
    PlotCanvas* PageCanvas(int) override { return nullptr; }
    std::atomic<int> pending{0};
  } window;

  std::atomic<bool> done{false};
  std::thread frames([&] {
    Frame frame(64, 16, 0);
    for (int i = 0; i < 3000; ++i) {
      frame.channel.channelNumber = i / 100;
      ProcessFrameState(state, frame.info, &window);
    }
    done = true;
  });
  double seen = 0;
  int line = 0;
  while (!done) {
    StoreSetting(state.liveSettings.TVLine, line++ % 40 - 10);  // out of range on purpose
    StoreSetting(state.liveSettings.Mode, line % 4);
    if (window.pending.exchange(0) > 0) {  // the notification handler
      AnalysisLockGuard guard(state.analysisLock);
      seen += state.snrDisplay[0] + state.currentChannelCode + state.currentChannelName[0];
    }
  }
  frames.join();
  EXPECT_GE(seen, 0.0);
  ReleaseStateBuffers(state);
}

}  // namespace
