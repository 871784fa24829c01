// A few threads for what costs most with many small files: creating,
// closing and deleting them. Work is handed in on one thread, and its
// results are taken back on that thread in the order it was handed in.
#pragma once

#include <windows.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "framework/handles.h"

namespace qv {

class FilePool {
 public:
  // Runs on a worker: 0, or the system's error code.
  using Work = std::function<DWORD()>;
  // Runs on the owner's thread with the work's result.
  using Finish = std::function<void(DWORD result)>;

  // Enough to keep the workers busy, few enough that a quit or an error
  // waits for little.
  static constexpr std::size_t kMostTasks = 32;
  static constexpr std::size_t kMostBytes = 8u << 20;

  FilePool() = default;
  // Lets the workers do what was handed in, and finishes none of it.
  ~FilePool();
  FilePool(const FilePool&) = delete;
  FilePool& operator=(const FilePool&) = delete;

  // Hands work in that holds `bytes` of memory until it is finished; while
  // too much is on its way, the oldest is finished first. False when no
  // worker can be started: nothing was handed in.
  bool Add(Work work, Finish finish, std::size_t bytes);
  // Finishes, in order, what is done; with wait, everything.
  void Reap(bool wait);

 private:
  struct Task {
    Work work;
    Finish finish;
    std::size_t bytes = 0;
    DWORD result = 0;
    bool done = false;  // under lock_
  };
  bool StartWorkers();
  static DWORD WINAPI Main(void* self);
  void Serve();
  // Finishes the oldest task; false when it is not done and wait is false.
  bool FinishOldest(bool wait);

  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE queued_ = CONDITION_VARIABLE_INIT, done_ = CONDITION_VARIABLE_INIT;
  std::deque<Task*> todo_;  // under lock_
  bool stopping_ = false;   // under lock_
  // The owner's alone: every task handed in and not finished, oldest first.
  std::deque<std::unique_ptr<Task>> order_;
  std::size_t bytes_ = 0;
  bool reaping_ = false;
  bool tried_ = false;
  std::vector<UniqueHandle> threads_;
};

}  // namespace qv
