// The reader's thread and semaphore on Win32 calls; a slim lock and a
// condition variable keep each hand-over inside the process.
#include <windows.h>

#include "framework/handles.h"
#include "package/threads.h"

namespace qv::pack {
namespace {

class Win32Semaphore : public Semaphore {
 public:
  explicit Win32Semaphore(unsigned count) : count_(count) {}
  void Acquire() override {
    ::AcquireSRWLockExclusive(&lock_);
    while (count_ == 0) ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    --count_;
    ::ReleaseSRWLockExclusive(&lock_);
  }
  void Release() override {
    ::AcquireSRWLockExclusive(&lock_);
    ++count_;
    ::ReleaseSRWLockExclusive(&lock_);
    ::WakeConditionVariable(&changed_);
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  unsigned count_;
};

class Win32Thread : public Thread {
 public:
  explicit Win32Thread(std::function<void()> run) : run_(std::move(run)) {}
  // The thread runs on this object: it must end before the object goes.
  ~Win32Thread() override {
    if (handle_) ::WaitForSingleObject(handle_.Get(), INFINITE);
  }
  bool Begin() {
    handle_.Reset(::CreateThread(nullptr, 0, &Win32Thread::Main, this, 0, nullptr));
    return static_cast<bool>(handle_);
  }

 private:
  static DWORD WINAPI Main(void* self) {
    static_cast<Win32Thread*>(self)->run_();
    return 0;
  }
  std::function<void()> run_;
  UniqueHandle handle_;
};

}  // namespace

std::unique_ptr<Semaphore> Semaphore::Make(unsigned count) { return std::make_unique<Win32Semaphore>(count); }

std::unique_ptr<Thread> Thread::Start(std::function<void()> run) {
  auto thread = std::make_unique<Win32Thread>(std::move(run));
  if (!thread->Begin()) return nullptr;
  return thread;
}

unsigned Thread::Processors() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? unsigned(info.dwNumberOfProcessors) : 1u;
}

}  // namespace qv::pack
