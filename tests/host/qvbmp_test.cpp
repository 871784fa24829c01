// Runs the qvbmp tool as a user would and checks its files and exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "framework/portable/bmp_codec.h"
#include "framework/portable/random.h"
#include "skin/pixel_kernels.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class QvbmpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qvbmp_test_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    in_ = dir_ / "in.bmp";
    out_ = dir_ / "out.bmp";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Exit code of `qvbmp args...`; its standard output goes to stdout.txt.
  int Run(const std::string& args) {
    const std::string command =
        std::string("'") + QVBMP_PATH + "' " + args + " > '" + (dir_ / "stdout.txt").string() + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Quoted(const fs::path& p) const { return "'" + p.string() + "'"; }
  std::string InOut() const { return Quoted(in_) + " " + Quoted(out_); }

  void Write(const fs::path& p, const Bytes& data) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  }
  static Bytes Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // The output as top-down 24-bit rows with Stride24 padding.
  Bytes Output(int* width = nullptr, int* height = nullptr) {
    const BmpImage image = DecodeBmp(Read(out_));
    EXPECT_EQ(image.bitCount, 24);
    if (width) *width = image.width;
    if (height) *height = image.height;
    Bytes rows(std::size_t(Stride24(image.width)) * image.height, 0);
    ToTopDown24(image, rows.data(), Stride24(image.width));
    return rows;
  }

  fs::path dir_, in_, out_;
};

// A 3 x 2 picture of 24-bit rows with Stride24 padding (zero).
Bytes Picture3x2() {
  Bytes rows(std::size_t(Stride24(3)) * 2, 0);
  const std::uint8_t values[] = {0, 100, 0, 10, 20, 30, 255, 255, 255, 1, 2, 3, 200, 0, 50, 9, 99, 199};
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 9; ++i) rows[std::size_t(y) * Stride24(3) + i] = values[9 * y + i];
  return rows;
}

Bytes Encode24(const Bytes& rows, int w, int h) {
  return EncodeBmp(FromTopDown24(rows.data(), w, h, Stride24(w)));
}

TEST_F(QvbmpTest, ChainEqualsTheKernelsAppliedInTurn) {
  Bytes expected = Picture3x2();
  Write(in_, Encode24(expected, 3, 2));
  ASSERT_EQ(Run(InOut() + " GrayScale blur 1 rotate -1 -1 30 SHARPEN 1 flip h diffuse 2 wave wrap 2 3 1.5"), 0);

  const pix::RowView view{expected.data(), 3, 2, Stride24(3)};
  TRandom random(0);  // the tool's generator starts at 0
  pix::Grayscale(view);
  pix::Blur(view, 1);
  pix::Rotate(view, -1, -1, 30);
  pix::Sharpen(view, 1);
  pix::Flip(view, true);
  pix::Diffuse(view, 2, random);
  pix::Wave(view, true, 2, 3, 1.5L);
  EXPECT_EQ(Output(), expected);
}

TEST_F(QvbmpTest, WorkedPixelsOfAShortChain) {
  Write(in_, Encode24(Picture3x2(), 3, 2));
  // Grey of (r0 g100 b0) is 58, inverted 197; of (r30 g20 b10) 9+11+1 = 21.
  ASSERT_EQ(Run(InOut() + " grayscale invert"), 0);
  const Bytes out = Output();
  EXPECT_EQ(out[0], 197);
  EXPECT_EQ(out[1], 197);
  EXPECT_EQ(out[2], 197);
  EXPECT_EQ(out[3], 255 - 21);
  EXPECT_EQ(out[6], 1);  // white greys to 254

  // Stretching 2 x 1 (blue 0 and 200) to 4 x 1 gives 0, 50, 100, 150.
  Bytes two(8, 0);
  two[3] = 200;
  Write(in_, Encode24(two, 2, 1));
  ASSERT_EQ(Run(InOut() + " stretch 4 1"), 0);
  int w = 0, h = 0;
  const Bytes wide = Output(&w, &h);
  ASSERT_EQ(w, 4);
  ASSERT_EQ(h, 1);
  EXPECT_EQ((Bytes{wide[0], wide[3], wide[6], wide[9]}), (Bytes{0, 50, 100, 150}));

  // Key mask by hex colour: the key (r0 g100 b0) is black, the rest white.
  Write(in_, Encode24(Picture3x2(), 3, 2));
  ASSERT_EQ(Run(InOut() + " keymask 006400"), 0);
  const Bytes masked = Output();
  EXPECT_EQ((Bytes{masked[0], masked[3], masked[6]}), (Bytes{0, 255, 255}));
}

TEST_F(QvbmpTest, ReadsPalettedInputAndWrites24Bits) {
  BmpImage image;
  image.width = 2, image.height = 1, image.bitCount = 8;
  image.colors = {{10, 20, 30, 0}, {40, 50, 60, 0}};
  image.bits = {1, 0, 0, 0};
  Write(in_, EncodeBmp(image));
  ASSERT_EQ(Run(InOut()), 0);  // no effect: a plain conversion
  const Bytes out = Output();
  EXPECT_EQ((Bytes(out.begin(), out.begin() + 6)), (Bytes{40, 50, 60, 10, 20, 30}));
}

TEST_F(QvbmpTest, BadCommandLinesExitTwoAndWriteNothing) {
  Write(in_, Encode24(Picture3x2(), 3, 2));
  const std::string chains[] = {
      "sparkle",
      "blur",
      "blur x",
      "blur 3x",
      "blur 99999999999",
      "flip d",
      "rotate 1 2",
      "rotate 1 2 nan",
      "wave sideways 1 1 1",
      "keymask GG0000",
      "keymask 1234567",
      "stretch 0 5",
      "stretch 70000 1",
      "adjustrgb 1 2",
      "grayscale blur 1 bogus",
  };
  for (const std::string& chain : chains) {
    EXPECT_EQ(Run(InOut() + " " + chain), 2) << chain;
    EXPECT_FALSE(fs::exists(out_)) << chain;
  }
  EXPECT_EQ(Run(Quoted(in_)), 2);
  // The chain is checked before the input is read.
  EXPECT_EQ(Run(Quoted(dir_ / "missing.bmp") + " " + Quoted(out_) + " sparkle"), 2);
}

TEST_F(QvbmpTest, UnreadableInputExitsOneAndWritesNothing) {
  EXPECT_EQ(Run(Quoted(dir_ / "missing.bmp") + " " + Quoted(out_) + " invert"), 1);
  EXPECT_FALSE(fs::exists(out_));
  Write(in_, Bytes{'B', 'M', 1, 2, 3});
  EXPECT_EQ(Run(InOut() + " invert"), 1);
  EXPECT_FALSE(fs::exists(out_));
  Write(in_, Encode24(Picture3x2(), 3, 2));
  EXPECT_EQ(Run(Quoted(in_) + " " + Quoted(dir_ / "no" / "such" / "dir.bmp") + " invert"), 1);
}

TEST_F(QvbmpTest, HelpListsTheEffects) {
  EXPECT_EQ(Run("--help"), 0);
  const Bytes text = Read(dir_ / "stdout.txt");
  const std::string help(text.begin(), text.end());
  for (const char* word : {"usage", "grayscale", "multiblur", "wave", "keymask", "stretch"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace qv
