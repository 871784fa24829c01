#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "package/threads.h"

namespace qv::pack {
namespace {

class StdSemaphore : public Semaphore {
 public:
  explicit StdSemaphore(unsigned count) : count_(count) {}
  void Acquire() override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return count_ > 0; });
    --count_;
  }
  void Release() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++count_;
    }
    changed_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  unsigned count_;
};

class StdThread : public Thread {
 public:
  explicit StdThread(std::function<void()> run) : thread_(std::move(run)) {}
  ~StdThread() override { thread_.join(); }

 private:
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Semaphore> Semaphore::Make(unsigned count) { return std::make_unique<StdSemaphore>(count); }

std::unique_ptr<Thread> Thread::Start(std::function<void()> run) {
  try {
    return std::make_unique<StdThread>(std::move(run));
  } catch (const std::system_error&) {
    return nullptr;
  }
}

unsigned Thread::Processors() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace qv::pack
