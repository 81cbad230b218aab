// Times of a recording as people read them.
#pragma once
#include <string>

// "hh:mm:ss" (with ".ff" hundredths when `fraction`).
std::string Clock(double seconds, bool fraction = false);
