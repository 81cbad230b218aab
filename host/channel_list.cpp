#include "host/channel_list.h"

#include <cstring>

namespace {

// Channel numbers and vision carriers of the D/K channel plan; names in Windows-1251:
// "Полосы" (bars), "Шум" (noise), "Пила" (sawtooth), "Частоты" (frequencies).
const TestChannel kTuner[] = {
    {1, "\xCF\xEE\xEB\xEE\xF1\xFB", 49750000, TestSignal::Bars},
    {3, "\xD8\xF3\xEC", 77250000, TestSignal::Noise},
    {6, "\xCF\xE8\xEB\xE0", 175250000, TestSignal::Ramp},
    {21, "\xD7\xE0\xF1\xF2\xEE\xF2\xFB", 471250000, TestSignal::Multiburst},
};
constexpr int kTunerCount = int(sizeof(kTuner) / sizeof(kTuner[0]));

const TestChannel kVhs = {-2, "VHS", 0, TestSignal::Bars};
const TestChannel kSvhs = {-3, "S-VHS", 0, TestSignal::Multiburst};

int Wrap(int index) { return ((index % kTunerCount) + kTunerCount) % kTunerCount; }

}  // namespace

const TestChannel* TunerChannels() { return kTuner; }
int TunerChannelCount() { return kTunerCount; }
const TestChannel& VhsInput() { return kVhs; }
const TestChannel& SvhsInput() { return kSvhs; }

const char* HostCommandName(int code) {
  switch (code) {
    case HostCmdChannelUp: return "HostCmdChannelUp";
    case HostCmdChannelDown: return "HostCmdChannelDown";
    case HostCmdSourceTV: return "HostCmdSourceTV";
    case HostCmdSourceVHS: return "HostCmdSourceVHS";
    case HostCmdSourceSVHS: return "HostCmdSourceSVHS";
  }
  return nullptr;
}

TunerState ApplyHostCommand(const TunerState& state, int code, bool* known) {
  TunerState next = state;
  next.channelIndex = Wrap(state.channelIndex);  // a corrupt index never reaches the list
  bool ok = true;
  switch (code) {
    case HostCmdChannelUp:
      next.source = Source::Tuner;
      next.channelIndex = Wrap(next.channelIndex + 1);
      break;
    case HostCmdChannelDown:
      next.source = Source::Tuner;
      next.channelIndex = Wrap(next.channelIndex - 1);
      break;
    case HostCmdSourceTV: next.source = Source::Tuner; break;
    case HostCmdSourceVHS: next.source = Source::Vhs; break;
    case HostCmdSourceSVHS: next.source = Source::Svhs; break;
    default:
      ok = false;
      next = state;
      break;
  }
  if (known != nullptr) *known = ok;
  return next;
}

const TestChannel& CurrentChannel(const TunerState& state) {
  switch (state.source) {
    case Source::Vhs: return kVhs;
    case Source::Svhs: return kSvhs;
    case Source::Tuner: break;
  }
  return kTuner[Wrap(state.channelIndex)];
}

ChannelInfo MakeChannelInfo(const TestChannel& channel) {
  ChannelInfo info;
  std::memset(&info, 0, sizeof info);
  info.channelNumber = channel.number;
  std::strncpy(info.channelName, channel.name, sizeof info.channelName - 1);
  info.frequencyHz = channel.frequencyHz;
  return info;
}

int FirstChannelWithSignal(TestSignal signal) {
  for (int i = 0; i < kTunerCount; ++i) {
    if (kTuner[i].signal == signal) return i;
  }
  return 0;
}
