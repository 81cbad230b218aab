#include "host/host_options.h"

#include <gtest/gtest.h>

#include "plugin/host_contract.h"

namespace {

TEST(HostOptionsTest, EveryOptionIsRead) {
  HostOptions o;
  std::string error;
  ASSERT_TRUE(ParseHostOptions({"--frames", "12", "--fps", "12.5", "--format", "bgr24", "--size", "640x480",
                                "--signal", "multiburst", "--noise", "2.5", "--open-window", "--log", "C:\\t\\h.log",
                                "--plugin", "x.dll"},
                               &o, &error))
      << error;
  EXPECT_EQ(o.frames, 12);
  EXPECT_DOUBLE_EQ(o.fps, 12.5);
  EXPECT_EQ(o.pixelFormat, PixelFormatBgr24);
  EXPECT_EQ(o.width, 640);
  EXPECT_EQ(o.height, 480);
  EXPECT_EQ(o.signal, TestSignal::Multiburst);
  EXPECT_DOUBLE_EQ(o.noiseSigma, 2.5);
  EXPECT_TRUE(o.openWindow);
  EXPECT_EQ(o.logPath, "C:\\t\\h.log");
  EXPECT_EQ(o.pluginPath, "x.dll");
}

TEST(HostOptionsTest, BadArgumentsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},          {"--frames"},          {"--frames", "-1"},      {"--frames", "3x"},
      {"--fps", "0"},       {"--fps", "nan"},      {"--format", "rgb"},     {"--size", "720"},
      {"--size", "0x576"},  {"--size", "720x"},    {"--size", "99999x2"},   {"--signal", "sweep"},
      {"--noise", "-1"},    {"--log", ""},         {"--plugin", ""},
  };
  for (const auto& args : bad) {
    HostOptions o;
    o.frames = 77;
    std::string error;
    EXPECT_FALSE(ParseHostOptions(args, &o, &error)) << args[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(o.frames, 77) << "options changed on failure";
  }
}

TEST(HostOptionsTest, OnlyTheNoiseFieldIsNoisyUnlessNoiseIsGiven) {
  HostOptions o;
  EXPECT_EQ(NoiseSigmaFor(o, TestSignal::Bars), 0.0);
  EXPECT_EQ(NoiseSigmaFor(o, TestSignal::Noise), kDefaultNoiseFieldSigma);
  o.noiseSigma = 0.0;
  EXPECT_EQ(NoiseSigmaFor(o, TestSignal::Noise), 0.0);
  o.noiseSigma = 3.0;
  EXPECT_EQ(NoiseSigmaFor(o, TestSignal::Ramp), 3.0);
}

TEST(HostOptionsTest, CommandLineSplitsLikeTheCRuntime) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(SplitCommandLine(L"host.exe --frames 5"), (V{L"host.exe", L"--frames", L"5"}));
  EXPECT_EQ(SplitCommandLine(L"\"C:\\Program Files\\h.exe\"  --log \"C:\\my dir\\l.txt\"  "),
            (V{L"C:\\Program Files\\h.exe", L"--log", L"C:\\my dir\\l.txt"}));
  // Backslashes are literal unless they precede a quote.
  EXPECT_EQ(SplitCommandLine(L"h a\\b\\\\c"), (V{L"h", L"a\\b\\\\c"}));
  EXPECT_EQ(SplitCommandLine(L"h a\\\"b"), (V{L"h", L"a\"b"}));
  EXPECT_EQ(SplitCommandLine(L"h \"a\\\\\" b"), (V{L"h", L"a\\", L"b"}));
  EXPECT_EQ(SplitCommandLine(L"h \"\" x\"y z\"w"), (V{L"h", L"", L"xy zw"}));
  EXPECT_EQ(SplitCommandLine(L"h\tone\t\ttwo"), (V{L"h", L"one", L"two"}));
  EXPECT_EQ(SplitCommandLine(L""), V{});
}

}  // namespace
