// Exit status of `lineview`: each kind of bad input has its own, so scripts can tell them apart.
// Codes 6 to 15 are warnings: the run finished and its output is complete, but something
// the user asked for could not be honoured exactly.
#pragma once

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,          // output could not be written, or an internal error
  kExitUsage = 2,            // bad command line
  kExitCannotOpen = 3,       // FFmpeg cannot open the input, or has no decoder for it
  kExitNoVideo = 4,          // the input has no video stream
  kExitRawSizeMismatch = 5,  // raw input does not hold one whole frame of the size given
  kExitTruncated = 6,        // the last raw frame is cut short (the whole frames before it are analysed)
  kExitSettingsUnreadable = 7,  // the settings file could not be read: defaults used
  kExitLineClamped = 8,         // the line lies outside the frame: the nearest line used
  kExitSettingOutOfRange = 9,   // a setting outside its range: used as the plug-in uses it
  kExitFramesDropped = 10,      // some frames could not be decoded or converted: the others analysed
  kExitReadError = 11,          // a read error in mid-stream: the frames before it analysed
  kExitNoFont = 12,             // no font for the axis labels: pictures without them
  kExitTimeout = 13,            // the input delivered no frame for --timeout seconds: stopped there
  kExitDamaged = 14,            // the decoder flagged frames as corrupt or concealed errors in them
  kExitFlagged = 15,            // an input crossed --min-snr, --max-dropped or --max-damaged (outweighs the other warnings)
  kExitIncomplete = 16,         // --from: a sidecar of a run that ended before its input did (stopped, timed out, a read error, killed); --sidecar: an input in progress elsewhere
  // Stopped by SIGINT or SIGTERM: the outputs are completed, then the process ends by the
  // signal (a shell shows 130 or 143); this code only where it could not.
  kExitStopped = 130,
};

// What each status means, in the order the help lists them: the help's table is made from this.
struct ExitMeaning {
  ExitCode code;
  const char* text;
};
extern const ExitMeaning kExitMeanings[18];
extern const char kExitNote[];

// The status of several inputs with one more: an input that could not be analysed outweighs
// the warnings of the others; one analysed only in part (a timeout, a read error, a stopped
// sidecar) outweighs a flagged one, and a flagged one the other warnings.
int WithInput(int status, int code);
// A flagged input outweighs the other warnings, so that a collection sorts by status alone.
int Outweighed(int status, int flagged);
// The statuses of a reading that ended before the input's end: never outweighed by a flag.
bool EndedShort(int status);
