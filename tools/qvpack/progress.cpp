#include "tools/qvpack/progress.h"

#include <cstdio>

namespace qv::qvpack {

namespace {
constexpr int kBarWidth = 20;
}

std::string SizeText(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  else
    std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  return text;
}

std::string ProgressText(std::uint64_t done, std::uint64_t total, double seconds) {
  const double part = total == 0 ? 1.0 : static_cast<double>(done > total ? total : done) / static_cast<double>(total);
  const int filled = static_cast<int>(part * kBarWidth);
  std::string bar = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "]";
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(part * 100));
  std::string text = bar + " " + percent + "  " + SizeText(double(done)) + " of " + SizeText(double(total));
  if (seconds > 0) text += "  " + SizeText(static_cast<double>(done) / seconds) + "/s";
  return text;
}

ProgressBar::ProgressBar(bool shown, std::function<void(const std::string&)> draw)
    : shown_(shown), draw_(std::move(draw)), start_(Clock::now()), last_(start_) {}

void ProgressBar::Update(std::uint64_t done, std::uint64_t total) {
  if (!shown_) return;
  const Clock::time_point now = Clock::now();
  if (drawn_ && done < total && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  std::string text = ProgressText(done, total, std::chrono::duration<double>(now - start_).count());
  // Blanks cover what a longer line before left.
  const std::size_t length = text.size();
  if (length < width_) text += std::string(width_ - length, ' ');
  width_ = length;
  draw_("\r" + text);
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (!shown_ || !drawn_) return;
  draw_("\r" + std::string(width_, ' ') + "\r");
  drawn_ = false;
}

}  // namespace qv::qvpack
