#include "cli/common/exit_codes.h"

const ExitMeaning kExitMeanings[18] = {
    {kExitOk, "success"},
    {kExitFailure, "an output could not be written (the run ends at once), or an internal error"},
    {kExitUsage, "bad command line"},
    {kExitCannotOpen, "the input cannot be opened or decoded, or no frame of it could be analysed"},
    {kExitNoVideo, "the input has no video stream"},
    {kExitRawSizeMismatch, "raw input smaller than one frame of -s and -pix_fmt"},
    {kExitTruncated, "the last raw frame is truncated"},
    {kExitSettingsUnreadable, "the settings file is unreadable: defaults used"},
    {kExitLineClamped, "the settings' line lies outside the frame: the last line used"},
    {kExitSettingOutOfRange, "a setting outside its range: used as the plug-in uses it"},
    {kExitFramesDropped, "some frames could not be decoded or converted: left out"},
    {kExitReadError, "a read error before the end of the input"},
    {kExitNoFont, "no font for the axis labels: pictures without them"},
    {kExitTimeout, "the input delivered no frame for --timeout seconds"},
    {kExitDamaged, "the decoder found errors in some frames (concealed or flagged corrupt): analysed as decoded"},
    {kExitFlagged, "an input was flagged: SNR below --min-snr, more frames lost than --max-dropped or damaged than --max-damaged"},
    {kExitIncomplete, "--from: a sidecar of a run stopped before its input's end or cut short (its verdict is "
                      "incomplete); --sidecar: an input in progress in another run, skipped"},
    {kExitStopped, "stopped by SIGINT or SIGTERM: lineview ends by that signal once its outputs are complete"},
};
const char kExitNote[] = "Codes 6 to 16 are warnings: the outputs of what could be read are complete. 15 outweighs the "
                         "other warnings, so that a collection sorts by the status alone; a reading cut short (11, 13, "
                         "16, 130, 143) is never outweighed: its verdict is incomplete. Several inputs: the first "
                         "failure's status, else 15 where one was flagged, else the first warning's.";

bool EndedShort(int status) {
  return status == kExitReadError || status == kExitTimeout || status == kExitIncomplete || status >= kExitStopped;
}

int Outweighed(int status, int flagged) {
  return status == kExitOk || (status >= kExitTruncated && !EndedShort(status)) ? flagged : status;
}

int WithInput(int status, int code) {
  const bool failed = code != kExitOk && code < kExitTruncated;
  if (status == kExitOk || (failed && status >= kExitTruncated)) status = code;
  // A reading cut short outweighs the other warnings, a flag among them.
  if (EndedShort(code) && status >= kExitTruncated && !EndedShort(status)) status = code;
  return code == kExitFlagged ? Outweighed(status, code) : status;
}
