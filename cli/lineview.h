// The whole `lineview` run: arguments in, CSV or JSON on `out`, messages and progress on `err`,
// pictures in the --png folder; returns the exit status.
#pragma once
#include <ostream>
#include <string>
#include <vector>

int RunLineview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal);
