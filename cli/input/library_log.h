// FFmpeg's own messages. A damaged input makes the libraries repeat one message for every
// frame: by default each kind of message (the same text, its numbers aside) is kept once with
// a count and shown when the run ends; verbose prints every message as it comes.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>

// Routes the libraries' messages (errors and worse) here; may be called again to switch mode.
void StartLibraryLog(bool verbose);

// Prints each kind gathered since the last report once, with its count, and forgets them.
void ReportLibraryMessages(std::ostream& err);

// For a message that ends the run: " (FFmpeg: FIRST MESSAGE; ...)" naming the first message
// gathered and how many there were, then forgets them; "" when there were none.
std::string TakeLibraryNote();
