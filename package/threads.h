// A second thread and a counting semaphore for the reader. The setup
// program builds them on the system's own calls: std::thread would bring
// 45 KB of pthread emulation into it. Elsewhere they are std:: ones.
#pragma once

#include <functional>
#include <memory>

namespace qv::pack {

class Semaphore {
 public:
  // Null when the system has none to give.
  static std::unique_ptr<Semaphore> Make(unsigned count);
  virtual ~Semaphore() = default;
  virtual void Acquire() = 0;  // waits until the count is above zero, then lowers it
  virtual void Release() = 0;
};

class Thread {
 public:
  // Runs `run` on a thread of its own; null when none could be started.
  static std::unique_ptr<Thread> Start(std::function<void()> run);
  // The processors the system runs threads on (1 when it does not say).
  static unsigned Processors();
  virtual ~Thread() = default;  // waits for `run` to return
};

}  // namespace qv::pack
