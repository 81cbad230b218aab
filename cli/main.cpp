#include <unistd.h>

#include <iostream>

#include "cli/lineview.h"
#include "cli/input/stop.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = RunLineview(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
  std::cout.flush();
  std::cerr.flush();
  EndAsSignalled();  // every output is complete by now
  return status;
}
