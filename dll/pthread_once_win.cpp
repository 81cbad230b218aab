// pthread_once for the DLL, without the POSIX-thread runtime's thread identity.
//
// libgcc registers the DLL's unwind tables on every load (crtbegin's __gcc_register_frame), and
// that runs pthread_once. In the statically linked winpthreads, pthread_once gives the calling
// thread a POSIX identity (a duplicated Thread handle and an Event) that is freed only when that
// thread ends while this copy of winpthreads is still loaded: a host that loads and unloads the
// plug-in from its window thread lost both on every load. The DLL is linked with
// --wrap=pthread_once, so every once-call of libgcc and libstdc++ in it (the unwinder's mutex,
// the guard of function-local statics, emulated TLS) comes here instead and leaves nothing.
#include <windows.h>

#include <pthread.h>

#include <cerrno>

static_assert(sizeof(pthread_once_t) == sizeof(LONG), "pthread_once_t is winpthreads' long");

namespace {
// The states of a once-control: PTHREAD_ONCE_INIT (0), then running, then done.
constexpr LONG kNotRun = PTHREAD_ONCE_INIT;
constexpr LONG kRunning = 1;
constexpr LONG kDone = 2;
}  // namespace

extern "C" int __wrap_pthread_once(pthread_once_t* once, void (*init)(void)) {
  if (once == nullptr || init == nullptr) return EINVAL;
  volatile LONG* state = reinterpret_cast<volatile LONG*>(once);
  const LONG seen = InterlockedCompareExchange(state, kRunning, kNotRun);
  if (seen == kNotRun) {
    init();
    InterlockedExchange(state, kDone);
  } else {
    // Another thread runs it (at first use only): wait it out. Sleep(1), not Sleep(0), which
    // would never let a thread of lower priority finish.
    while (InterlockedCompareExchange(state, kDone, kDone) != kDone) Sleep(1);
  }
  return 0;
}
