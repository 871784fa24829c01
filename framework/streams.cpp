#include "framework/streams.h"

#include <cstring>

#include "framework/text_conv.h"

namespace qv {

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  if (Read(buffer, count) != count) throw EStreamError("Stream read error");
}

std::vector<std::uint8_t> TStream::ReadRest() {
  const std::uint64_t left = Size() > Position() ? Size() - Position() : 0;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(left));
  if (!bytes.empty()) ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  const std::size_t n = std::min(count, bytes_.size() - std::min(pos_, bytes_.size()));
  if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
  pos_ += n;
  return n;
}

void TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (pos_ + count > bytes_.size()) bytes_.resize(pos_ + count);
  if (count) std::memcpy(bytes_.data() + pos_, buffer, count);
  pos_ += count;
}

void TMemoryStream::SetPosition(std::uint64_t position) {
  pos_ = static_cast<std::size_t>(std::min<std::uint64_t>(position, bytes_.size()));
}

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
  const std::wstring wide = Utf8ToWide(path);
  file_.Reset(mode == Mode::Read
                  ? ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)
                  : ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_)
    throw EStreamError((mode == Mode::Read ? "Cannot open file \"" : "Cannot create file \"") + path + "\"");
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  DWORD got = 0;
  if (!::ReadFile(file_.Get(), buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
  return got;
}

void TFileStream::Write(const void* buffer, std::size_t count) {
  DWORD put = 0;
  if (!::WriteFile(file_.Get(), buffer, static_cast<DWORD>(count), &put, nullptr) || put != count)
    throw EStreamError("Stream write error on \"" + path_ + "\"");
}

std::uint64_t TFileStream::Size() const {
  LARGE_INTEGER s{};
  ::GetFileSizeEx(file_.Get(), &s);
  return static_cast<std::uint64_t>(s.QuadPart);
}

std::uint64_t TFileStream::Position() const {
  LARGE_INTEGER zero{}, at{};
  ::SetFilePointerEx(file_.Get(), zero, &at, FILE_CURRENT);
  return static_cast<std::uint64_t>(at.QuadPart);
}

void TFileStream::SetPosition(std::uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  ::SetFilePointerEx(file_.Get(), to, nullptr, FILE_BEGIN);
}

}  // namespace qv
