// Ending a run before its input ends: Ctrl-C or SIGTERM, the live window's q or close button,
// or an input that delivers nothing for --timeout seconds. One flag says so; the run checks it
// between frames, FFmpeg's interrupt callback checks it inside the library, and a reading
// thread blocked in a system call (a pipe whose writer sleeps, a FIFO without a writer) is
// woken so that the callback is asked. The outputs are then finished as at the end of the input.
#pragma once
#include <cstdint>

// SIGINT and SIGTERM: the first asks the run to stop, the second ends the process at once.
void InstallStopHandlers();

// Asked from the program itself (the live window's q or close).
void RequestStop();
bool StopRequested();
// After the outputs are complete: a run stopped by a signal ends by that signal, as shells
// expect of a program they interrupted (status 128 + its number); otherwise returns.
void EndAsSignalled();

// While one lives, the thread that made it is waiting for its input: after `timeoutSeconds`
// (0: never) or once a stop is asked, its blocking calls are interrupted and Interrupted()
// turns true. One at a time.
class InputWait {
 public:
  explicit InputWait(double timeoutSeconds);
  ~InputWait();
  InputWait(const InputWait&) = delete;
  InputWait& operator=(const InputWait&) = delete;
};

// For FFmpeg's interrupt callback: a stop is asked or the input has timed out.
bool InputInterrupted();
// True once an input has delivered nothing for its timeout (until the next InputWait).
bool InputTimedOut();
