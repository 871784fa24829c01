// The progress bar qvpack draws on a terminal: bytes done of the total and
// the rate. Portable; where it is drawn is the caller's.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace qv::qvpack {

// "[########------------]  40%  12.0 MiB of 30.0 MiB  8.0 MiB/s"
std::string ProgressText(std::uint64_t done, std::uint64_t total, double seconds);

// "12.0 MiB", "512 B": sizes as people read them.
std::string SizeText(double bytes);

class ProgressBar {
 public:
  using Clock = std::chrono::steady_clock;
  // Draws through `draw` when `shown`; draws nothing at all otherwise.
  ProgressBar(bool shown, std::function<void(const std::string&)> draw);
  // Redraws at most ten times a second, and always at the end.
  void Update(std::uint64_t done, std::uint64_t total);
  // Takes the bar off the line.
  void Finish();

 private:
  bool shown_;
  std::function<void(const std::string&)> draw_;
  Clock::time_point start_;
  Clock::time_point last_;
  bool drawn_ = false;
  std::size_t width_ = 0;
};

}  // namespace qv::qvpack
