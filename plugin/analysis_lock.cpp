#include "plugin/analysis_lock.h"

#include <new>

#ifdef _WIN32
#include <windows.h>
using LockImpl = CRITICAL_SECTION;
static void InitLock(void* p) { InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(p)); }
static void DestroyLock(void* p) { DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(p)); }
static void EnterLock(void* p) { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(p)); }
static void LeaveLock(void* p) { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(p)); }
static bool TryEnterLock(void* p) { return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(p)) != 0; }
#else
#include <mutex>
using LockImpl = std::mutex;
static void InitLock(void* p) { new (p) std::mutex(); }
static void DestroyLock(void* p) { static_cast<std::mutex*>(p)->~mutex(); }
static void EnterLock(void* p) { static_cast<std::mutex*>(p)->lock(); }
static void LeaveLock(void* p) { static_cast<std::mutex*>(p)->unlock(); }
static bool TryEnterLock(void* p) { return static_cast<std::mutex*>(p)->try_lock(); }
#endif

AnalysisLock::AnalysisLock() {
  static_assert(sizeof(LockImpl) <= sizeof(storage_), "lock storage too small");
  InitLock(storage_);
}
AnalysisLock::~AnalysisLock() { DestroyLock(storage_); }
void AnalysisLock::Enter() { EnterLock(storage_); }
void AnalysisLock::Leave() { LeaveLock(storage_); }
bool AnalysisLock::TryEnter() { return TryEnterLock(storage_); }
