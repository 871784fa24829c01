#include "package/win32/file_bytes.h"

#include "framework/read_at.h"

#include <algorithm>

namespace qv::pack {
namespace {

class FileSource : public ByteSource {
 public:
  FileSource(UniqueFile file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) override {
    return ReadFileAt(file_.Get(), offset, buffer, n);
  }

 private:
  UniqueFile file_;
  std::uint64_t size_;
};

}  // namespace

std::unique_ptr<ByteSource> FileBytes(UniqueFile file) {
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.Get(), &size)) return nullptr;
  return std::make_unique<FileSource>(std::move(file), static_cast<std::uint64_t>(size.QuadPart));
}

bool HandleSink::Write(const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    DWORD put = 0;
    if (!::WriteFile(file_, p, ask, &put, nullptr) || put == 0) {
      const DWORD code = ::GetLastError();
      if (!error_) error_ = code ? code : ERROR_WRITE_FAULT;
      return false;
    }
    p += put;
    n -= put;
  }
  return true;
}

}  // namespace qv::pack
