// Effect speed on a 1920 x 1080 picture, as a ratio to memcpy of the same
// buffer measured in this run (1.0 = as fast as copying the pixels).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "skin/pixel_kernels.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr double kMinSeconds = 0.2;

// Keeps the compiler from dropping work whose result is never read.
void Touch(void* p) { asm volatile("" : : "r"(p) : "memory"); }

// Seconds per run, repeating until at least kMinSeconds have passed.
double TimePerRun(const std::function<void()>& run) {
  using Clock = std::chrono::steady_clock;
  run();  // warm the caches and the page tables
  long runs = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    run();
    ++runs;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < kMinSeconds);
  return elapsed / static_cast<double>(runs);
}

struct Effect {
  const char* name;
  double target;  // minimum speed ratio to memcpy, 0 = none
  std::function<void(const qv::pix::RowView&)> run;
};

}  // namespace

int main() {
  using namespace qv::pix;
  const int stride = qv::Stride24(kWidth);
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(stride) * kHeight), copy(picture.size());
  std::uint32_t seed = 12345;
  for (auto& b : picture) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  const std::vector<std::uint8_t> original = picture;
  const RowView view{picture.data(), kWidth, kHeight, stride};
  qv::TRandom random(1);

  const Effect effects[] = {
      {"Grayscale", 0.20, [](const RowView& v) { Grayscale(v); }},
      {"Invert", 0.20, [](const RowView& v) { Invert(v); }},
      {"Brightness 40", 0.20, [](const RowView& v) { Brightness(v, 40); }},
      {"Contrast 60", 0.20, [](const RowView& v) { Contrast(v, 60); }},
      {"AdjustRGB 10 -5 3", 0.20, [](const RowView& v) { AdjustRGB(v, 10, -5, 3); }},
      {"Saturation 300", 0.20, [](const RowView& v) { Saturation(v, 300); }},
      {"Blur 1", 0.05, [](const RowView& v) { Blur(v, 1); }},
      {"Sharpen 1", 0.05, [](const RowView& v) { Sharpen(v, 1); }},
      {"KeyMask", 0, [](const RowView& v) { KeyMask(v, 0x808080); }},
      {"Tint 200 180 192", 0, [](const RowView& v) { Tint(v, 200, 180, 192, std::nullopt); }},
      {"Emboss", 0, [](const RowView& v) { Emboss(v); }},
      {"Diffuse 3", 0, [&random](const RowView& v) { Diffuse(v, 3, random); }},
      {"Flip h", 0, [](const RowView& v) { Flip(v, true); }},
      {"Flip v", 0, [](const RowView& v) { Flip(v, false); }},
      {"Rotate 30", 0, [](const RowView& v) { Rotate(v, -1, -1, 30); }},
      {"Wave wrap", 0, [](const RowView& v) { Wave(v, true, 40, 30, 8); }},
  };

  const double memcpyTime = TimePerRun([&] {
    std::memcpy(copy.data(), picture.data(), picture.size());
    Touch(copy.data());
  });
  std::printf("picture %d x %d, 24 bits; memcpy %.3f ms per run\n\n", kWidth, kHeight, memcpyTime * 1e3);
  std::printf("%-20s %10s %8s %8s  %s\n", "effect", "ms/run", "ratio", "target", "met");
  for (const Effect& e : effects) {
    picture = original;  // every effect starts from the same varied picture
    const double t = TimePerRun([&] {
      e.run(view);
      Touch(picture.data());
    });
    const double ratio = memcpyTime / t;
    if (e.target > 0)
      std::printf("%-20s %10.3f %8.3f %8.2f  %s\n", e.name, t * 1e3, ratio, e.target, ratio >= e.target ? "yes" : "NO");
    else
      std::printf("%-20s %10.3f %8.3f %8s\n", e.name, t * 1e3, ratio, "-");
  }
  // Stretch reads one picture and writes another of twice the size.
  {
    std::vector<std::uint8_t> big(static_cast<std::size_t>(qv::Stride24(2 * kWidth)) * 2 * kHeight);
    const RowView dst{big.data(), 2 * kWidth, 2 * kHeight, qv::Stride24(2 * kWidth)};
    const double t = TimePerRun([&] {
      SmoothStretch(view, dst);
      Touch(big.data());
    });
    std::printf("%-20s %10.3f %8.3f %8s\n", "SmoothStretch x2", t * 1e3, memcpyTime / t, "-");
  }
  return 0;
}
