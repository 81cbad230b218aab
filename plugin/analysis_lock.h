// The one lock shared by the frame thread and the window thread:
// a critical section on Windows, std::mutex elsewhere.
#pragma once
#include <cstddef>

class AnalysisLock {
 public:
  AnalysisLock();
  ~AnalysisLock();
  AnalysisLock(const AnalysisLock&) = delete;
  AnalysisLock& operator=(const AnalysisLock&) = delete;
  void Enter();
  void Leave();
  bool TryEnter();

 private:
  alignas(16) unsigned char storage_[64];
};

class AnalysisLockGuard {
 public:
  explicit AnalysisLockGuard(AnalysisLock& lock) : lock_(lock) { lock_.Enter(); }
  ~AnalysisLockGuard() { lock_.Leave(); }
  AnalysisLockGuard(const AnalysisLockGuard&) = delete;
  AnalysisLockGuard& operator=(const AnalysisLockGuard&) = delete;

 private:
  AnalysisLock& lock_;
};
