// The bundled host's tuner: a small built-in channel list, the two video inputs, and what
// the plug-in's commands (WM_HOST_COMMAND) do to them.
#pragma once
#include <cstdint>

#include "host/test_signals.h"
#include "plugin/host_contract.h"

struct TestChannel {
  int32_t number;       // channel number; the inputs carry -2 ("VHS") and -3 ("S-VHS")
  const char* name;     // Windows-1251 bytes
  int32_t frequencyHz;  // 0 for the inputs
  TestSignal signal;
};

// The tuner channels, in list order (stepping wraps around at both ends).
const TestChannel* TunerChannels();
int TunerChannelCount();
// The two inputs besides the tuner.
const TestChannel& VhsInput();
const TestChannel& SvhsInput();

enum class Source { Tuner, Vhs, Svhs };

struct TunerState {
  Source source = Source::Tuner;
  int channelIndex = 0;  // into TunerChannels(); kept while an input is selected
};

// The command's name ("HostCmdChannelUp" ...), or null for a code the host does not know.
const char* HostCommandName(int code);

// The state after one command. Channel up/down step the tuner through the list, wrapping
// around; on an input they select the tuner again, and step from the channel it had.
// An unknown code changes nothing (*known false).
TunerState ApplyHostCommand(const TunerState& state, int code, bool* known);

// What is playing now: the selected tuner channel or input.
const TestChannel& CurrentChannel(const TunerState& state);

// The record handed to the plug-in with each frame (unused bytes zero, name NUL-padded).
ChannelInfo MakeChannelInfo(const TestChannel& channel);

// The index of the first tuner channel carrying `signal` (0 when none does).
int FirstChannelWithSignal(TestSignal signal);
