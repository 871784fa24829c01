// TJPEGImage: a JPEG picture (baseline or progressive) decoded by the
// system's own picture decoder (OleLoadPicture) into a 24-bit bitmap the
// first time it is drawn or measured.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/graphics.h"

namespace qv {

class EJPEGError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TJPEGImage : public TGraphic {
 public:
  std::string ClassName() const override { return "TJPEGImage"; }

  int Width() const override;
  int Height() const override;
  bool Empty() const override { return file_.empty(); }
  void SetWidth(int) override {}  // a JPEG's size is its own
  void SetHeight(int) override {}

  void Draw(TCanvas& canvas, const RECT& r) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // Inside a stored picture: a 32-bit little-endian byte count, then the file.
  void ReadData(TStream& stream) override;
  void WriteData(TStream& stream) override;
  void AssignTo(TGraphic* dest) override;

  void LoadFromBytes(std::vector<std::uint8_t> bytes);
  const std::vector<std::uint8_t>& Bytes() const { return file_; }
  // The decoded picture (decoding now if it was not yet).
  TBitmap& Bitmap() const;

 private:
  std::vector<std::uint8_t> file_;  // the JPEG file as loaded
  mutable std::unique_ptr<TBitmap> decoded_;  // made on first use
};

// Decodes a JPEG file into 24-bit top-down B-G-R rows of the given stride
// (rows 4-byte aligned). Throws EJPEGError for anything but a JPEG file of
// at most kJpegMaxSide a side that the system decodes.
struct DecodedJpeg {
  int width = 0, height = 0, stride = 0;
  std::vector<std::uint8_t> bgr;
};
DecodedJpeg DecodeJpeg(const std::vector<std::uint8_t>& file);

}  // namespace qv
