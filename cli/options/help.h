// The help of `lineview`: its layout at 80 columns, its closing sections and the exit status
// table (made from the exit codes' own meanings), and FFmpeg's one-dash spellings.
#pragma once
#include <memory>
#include <string>

namespace CLI {
class FormatterBase;
}

// FFmpeg spells these long options with one dash; the parser wants two.
extern const char* const kFfmpegLongOptions[6];
// A text of the parser's with the names above as the user typed them (-ss, not --ss).
std::string FfmpegSpelling(std::string text);

// Each option's names and the name of its value, its description wrapped beside them, and
// nothing of the parser's own (validator names, "Needs:").
std::shared_ptr<CLI::FormatterBase> MakeHelpFormatter();
// Input, output, archives, stopping, the live window's keys, then the exit statuses.
std::string HelpFooter();
