#include "cli/input/stop.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};
std::atomic<bool> g_timedOut{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "set from a signal handler");

// The waiting thread, under g_waitLock: a wake-up is only ever sent to a thread that is inside
// its InputWait, so never to one that has gone.
std::mutex g_waitLock;
bool g_waiting = false;
pthread_t g_waiter;
Clock::time_point g_deadline = Clock::time_point::max();
std::once_flag g_watchStarted;

// A real-time signal nobody else uses: its only effect is that a blocking system call of the
// waiting thread returns EINTR, so that FFmpeg asks its interrupt callback.
int WakeSignal() { return SIGRTMIN + 2; }
void OnWake(int) {}

void OnStopSignal(int sig) {
  if (g_signal.load() != 0) {
    // The second: the user has waited long enough.
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  g_signal.store(sig);
  g_stop.store(true);
}

// Wakes the waiting thread every 20 ms while it should stop waiting: a wake-up that lands just
// before it enters a blocking call is not lost, the next one comes.
void Watch() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard<std::mutex> lock(g_waitLock);
    if (!g_waiting) continue;
    if (!g_stop.load()) {
      if (Clock::now() < g_deadline) continue;
      g_timedOut.store(true);
    }
    pthread_kill(g_waiter, WakeSignal());
  }
}

void Install(int sig, void (*handler)(int)) {
  struct sigaction a {};
  a.sa_handler = handler;
  sigemptyset(&a.sa_mask);
  a.sa_flags = 0;  // no SA_RESTART: a blocking read returns and the flag is seen
  sigaction(sig, &a, nullptr);
}

}  // namespace

void InstallStopHandlers() {
  Install(SIGINT, OnStopSignal);
  Install(SIGTERM, OnStopSignal);
  Install(WakeSignal(), OnWake);
}

void RequestStop() { g_stop.store(true); }
bool StopRequested() { return g_stop.load(); }

void EndAsSignalled() {
  const int sig = g_signal.load();
  if (sig == 0) return;
  signal(sig, SIG_DFL);
  raise(sig);
}

InputWait::InputWait(double timeoutSeconds) {
  // The wake-up needs its handler, also in a program that did not install the others.
  static std::once_flag wakeInstalled;
  std::call_once(wakeInstalled, [] { Install(WakeSignal(), OnWake); });
  std::call_once(g_watchStarted, [] { std::thread(Watch).detach(); });
  std::lock_guard<std::mutex> lock(g_waitLock);
  g_waiting = true;
  g_waiter = pthread_self();
  // Beyond about three years a timeout is as good as none, and the clock's sum cannot overflow.
  g_deadline = timeoutSeconds > 0 && timeoutSeconds < 1e8
                   ? Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds))
                   : Clock::time_point::max();
  g_timedOut.store(false);
}

InputWait::~InputWait() {
  std::lock_guard<std::mutex> lock(g_waitLock);
  g_waiting = false;
}

bool InputInterrupted() { return g_stop.load() || g_timedOut.load(); }
bool InputTimedOut() { return g_timedOut.load(); }
