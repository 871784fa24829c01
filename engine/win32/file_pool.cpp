#include "engine/win32/file_pool.h"

#include <algorithm>

namespace qv {

namespace {

// The system's own lock, taken for a scope.
class Locked {
 public:
  explicit Locked(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~Locked() { ::ReleaseSRWLockExclusive(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SRWLOCK& lock_;
};

// Two workers, or one a processor up to four: creating and closing files
// waits on the system more than on the processor, and more threads only
// queue up there.
unsigned WorkerCount() {
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return std::clamp<unsigned>(info.dwNumberOfProcessors, 2, 4);
}

}  // namespace

FilePool::~FilePool() {
  {
    const Locked locked(lock_);
    stopping_ = true;
  }
  ::WakeAllConditionVariable(&queued_);
  // The workers run on this object: they end before it does.
  for (const UniqueHandle& t : threads_) ::WaitForSingleObject(t.Get(), INFINITE);
}

bool FilePool::StartWorkers() {
  // Started with the first work: a run that writes no file starts none.
  for (unsigned i = WorkerCount(); i > 0; --i) {
    UniqueHandle thread(::CreateThread(nullptr, 0, &FilePool::Main, this, 0, nullptr));
    if (thread) threads_.push_back(std::move(thread));
  }
  return !threads_.empty();
}

DWORD WINAPI FilePool::Main(void* self) {
  static_cast<FilePool*>(self)->Serve();
  return 0;
}

void FilePool::Serve() {
  ::AcquireSRWLockExclusive(&lock_);
  for (;;) {
    while (todo_.empty() && !stopping_) ::SleepConditionVariableSRW(&queued_, &lock_, INFINITE, 0);
    if (todo_.empty()) break;  // stopping, and all handed in is done
    Task* task = todo_.front();
    todo_.pop_front();
    ::ReleaseSRWLockExclusive(&lock_);
    DWORD result = ERROR_NOT_ENOUGH_MEMORY;
    // Nothing thrown leaves the thread.
    try {
      result = task->work();
    } catch (...) {
    }
    ::AcquireSRWLockExclusive(&lock_);
    task->result = result;
    task->done = true;
    ::WakeConditionVariable(&done_);
  }
  ::ReleaseSRWLockExclusive(&lock_);
}

bool FilePool::Add(Work work, Finish finish, std::size_t bytes) {
  if (!tried_) {
    tried_ = true;
    StartWorkers();
  }
  if (threads_.empty()) return false;
  // Within a finish the oldest is being finished already: no waiting there.
  if (!reaping_) {
    Reap(false);
    while (!order_.empty() && (order_.size() >= kMostTasks || bytes_ + bytes > kMostBytes)) FinishOldest(true);
  }
  auto task = std::make_unique<Task>();
  task->work = std::move(work);
  task->finish = std::move(finish);
  task->bytes = bytes;
  bytes_ += bytes;
  Task* handed = task.get();
  order_.push_back(std::move(task));
  {
    const Locked locked(lock_);
    todo_.push_back(handed);
  }
  ::WakeConditionVariable(&queued_);
  return true;
}

void FilePool::Reap(bool wait) {
  // A finish that settles would finish later tasks in the middle of its own.
  if (reaping_) return;
  while (!order_.empty() && FinishOldest(wait)) {
  }
}

bool FilePool::FinishOldest(bool wait) {
  Task* oldest = order_.front().get();
  {
    const Locked locked(lock_);
    if (!oldest->done && !wait) return false;
    while (!oldest->done) ::SleepConditionVariableSRW(&done_, &lock_, INFINITE, 0);
  }
  const std::unique_ptr<Task> task = std::move(order_.front());
  order_.pop_front();
  bytes_ -= task->bytes;
  struct Reaping {
    bool& flag;
    explicit Reaping(bool& f) : flag(f) { flag = true; }
    ~Reaping() { flag = false; }
  } reaping(reaping_);
  task->finish(task->result);
  return true;
}

}  // namespace qv
