// Byte streams: memory and file, enough for pictures and stored forms.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/handles.h"

namespace qv {

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TStream {
 public:
  virtual ~TStream() = default;
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  virtual void Write(const void* buffer, std::size_t count) = 0;
  virtual std::uint64_t Size() const = 0;
  virtual std::uint64_t Position() const = 0;
  virtual void SetPosition(std::uint64_t position) = 0;

  // Reads exactly count bytes or raises EStreamError.
  void ReadBuffer(void* buffer, std::size_t count);
  // Everything from the position to the end.
  std::vector<std::uint8_t> ReadRest();
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::uint64_t Size() const override { return bytes_.size(); }
  std::uint64_t Position() const override { return pos_; }
  void SetPosition(std::uint64_t position) override;
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

class TFileStream : public TStream {
 public:
  enum class Mode { Read, Create };
  // The path is UTF-8, opened through the wide function.
  TFileStream(const std::string& path, Mode mode);
  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::uint64_t Size() const override;
  std::uint64_t Position() const override;
  void SetPosition(std::uint64_t position) override;

 private:
  UniqueFile file_;
  std::string path_;
};

}  // namespace qv
