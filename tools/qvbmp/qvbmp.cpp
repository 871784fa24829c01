// qvbmp in.bmp out.bmp effect [args]... : runs a chain of the skin bitmap's
// effects over a BMP file and writes the result as a 24-bit BMP.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/portable/bmp_codec.h"
#include "framework/portable/random.h"
#include "skin/pixel_kernels.h"

namespace {

constexpr const char* kUsage =
    "usage: qvbmp IN.bmp OUT.bmp [EFFECT [ARGS]...]...\n"
    "Reads any BMP, applies the effects in order to its 24-bit pixels and\n"
    "writes a 24-bit BMP. Effect names are case-blind:\n"
    "  grayscale | invert | emboss\n"
    "  brightness N | contrast N | saturation N (256 = unchanged)\n"
    "  adjustrgb R G B | tint R G B (192 = unchanged)\n"
    "  blur N | multiblur N | sharpen N | diffuse N\n"
    "  flip h|v\n"
    "  rotate CX CY DEGREES        (negative centre = the middle)\n"
    "  wave wrap|nowrap COLPERIOD ROWPERIOD AMPLITUDE\n"
    "  keymask RRGGBB              (hex key colour: key black, rest white)\n"
    "  stretch W H                 (bilinear)\n"
    "Exit codes: 0 done, 1 input or output failed, 2 bad command line.\n";

// A bad command line: reported before any file is touched.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> bits;

  int Stride() const { return qv::Stride24(width); }
  qv::pix::RowView View() { return {bits.data(), width, height, Stride()}; }
};

using Step = std::function<void(Picture&)>;

int ToInt(const std::string& s, const std::string& what) {
  int v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size())
    throw UsageError(what + ": '" + s + "' is not a whole number");
  return v;
}

long double ToReal(const std::string& s, const std::string& what) {
  errno = 0;
  char* end = nullptr;
  const long double v = std::strtold(s.c_str(), &end);
  if (s.empty() || end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v))
    throw UsageError(what + ": '" + s + "' is not a number");
  return v;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::uint32_t ToColour(const std::string& s, const std::string& what) {
  std::string digits = s;
  if (!digits.empty() && (digits[0] == '#' || digits[0] == '$')) digits.erase(0, 1);
  if (digits.size() > 2 && Lower(digits.substr(0, 2)) == "0x") digits.erase(0, 2);
  std::uint32_t v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
  if (digits.empty() || digits.size() > 6 || ec != std::errc() || end != digits.data() + digits.size())
    throw UsageError(what + ": '" + s + "' is not a colour RRGGBB");
  return v;
}

// Reads one effect and its arguments from args[at...]; returns the step.
// Long, but one flat case per effect, each reading its own arguments.
Step ParseEffect(const std::vector<std::string>& args, std::size_t& at) {
  const std::string name = Lower(args[at++]);
  auto arg = [&](const char* what) -> const std::string& {
    if (at >= args.size()) throw UsageError(name + ": missing " + what);
    return args[at++];
  };
  auto integer = [&](const char* what) { return ToInt(arg(what), name + " " + what); };
  auto real = [&](const char* what) { return ToReal(arg(what), name + " " + what); };
  using namespace qv::pix;

  if (name == "grayscale") return [](Picture& p) { Grayscale(p.View()); };
  if (name == "invert") return [](Picture& p) { Invert(p.View()); };
  if (name == "emboss") return [](Picture& p) { Emboss(p.View()); };
  if (name == "brightness") return [n = integer("N")](Picture& p) { Brightness(p.View(), n); };
  if (name == "contrast") return [n = integer("N")](Picture& p) { Contrast(p.View(), n); };
  if (name == "saturation") return [n = integer("N")](Picture& p) { Saturation(p.View(), n); };
  if (name == "blur") return [n = integer("N")](Picture& p) { Blur(p.View(), n); };
  if (name == "sharpen") return [n = integer("N")](Picture& p) { Sharpen(p.View(), n); };
  if (name == "diffuse") return [n = integer("N")](Picture& p) { Diffuse(p.View(), n, qv::GlobalRandom()); };
  if (name == "multiblur") {
    const int n = integer("N");
    if (n > 1000) throw UsageError("multiblur: N above 1000 would take for ever");
    return [n](Picture& p) { MultiBlur(p.View(), n); };
  }
  if (name == "adjustrgb" || name == "tint") {
    const int r = integer("R"), g = integer("G"), b = integer("B");
    if (name == "tint") return [=](Picture& p) { Tint(p.View(), r, g, b, std::nullopt); };
    return [=](Picture& p) { AdjustRGB(p.View(), r, g, b); };
  }
  if (name == "flip") {
    const std::string how = Lower(arg("h|v"));
    if (how != "h" && how != "v") throw UsageError("flip: '" + how + "' is neither h nor v");
    return [h = how == "h"](Picture& p) { Flip(p.View(), h); };
  }
  if (name == "rotate") {
    const int cx = integer("CX"), cy = integer("CY");
    const long double deg = real("DEGREES");
    return [=](Picture& p) { Rotate(p.View(), cx, cy, deg); };
  }
  if (name == "wave") {
    const std::string how = Lower(arg("wrap|nowrap"));
    if (how != "wrap" && how != "nowrap") throw UsageError("wave: '" + how + "' is neither wrap nor nowrap");
    const long double cols = real("COLPERIOD"), rows = real("ROWPERIOD"), amp = real("AMPLITUDE");
    return [=, wrap = how == "wrap"](Picture& p) { Wave(p.View(), wrap, cols, rows, amp); };
  }
  if (name == "keymask") return [key = ToColour(arg("RRGGBB"), "keymask")](Picture& p) { KeyMask(p.View(), key); };
  if (name == "stretch") {
    const int w = integer("W"), h = integer("H");
    if (w < 1 || h < 1 || w > qv::kBmpMaxSide || h > qv::kBmpMaxSide ||
        std::uint64_t(qv::Stride24(w)) * std::uint64_t(h) > qv::kBmpMaxPixelBytes)
      throw UsageError("stretch: size " + std::to_string(w) + " x " + std::to_string(h) + " out of range");
    return [w, h](Picture& p) {
      Picture out;
      out.width = w;
      out.height = h;
      out.bits.assign(static_cast<std::size_t>(out.Stride()) * h, 0);
      SmoothStretch(p.View(), out.View());
      p = std::move(out);
    };
  }
  throw UsageError("unknown effect '" + args[at - 1] + "'");
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open the file");
  std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read the file");
  return data;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (out && out.flush()) return;
  }
  std::remove(path.c_str());  // no half-written picture left behind
  throw std::runtime_error("cannot write the file");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  std::vector<Step> chain;
  try {
    for (std::size_t at = 2; at < args.size();) chain.push_back(ParseEffect(args, at));
  } catch (const UsageError& e) {
    std::fprintf(stderr, "qvbmp: %s\n(qvbmp --help lists the effects)\n", e.what());
    return 2;
  }

  qv::BmpImage image;
  try {
    image = qv::DecodeBmp(ReadFile(args[0]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvbmp: %s: %s\n", args[0].c_str(), e.what());
    return 1;
  }
  try {
    Picture picture;
    picture.width = image.width;
    picture.height = image.height;
    picture.bits.assign(static_cast<std::size_t>(picture.Stride()) * picture.height, 0);
    qv::ToTopDown24(image, picture.bits.data(), picture.Stride());
    for (const Step& step : chain) step(picture);
    WriteFile(args[1],
              qv::EncodeBmp(qv::FromTopDown24(picture.bits.data(), picture.width, picture.height, picture.Stride())));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvbmp: %s: %s\n", args[1].c_str(), e.what());
    return 1;
  }
  return 0;
}
