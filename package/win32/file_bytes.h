// A Windows file as a byte source, and a file handle as a byte sink.
#pragma once

#include "framework/handles.h"
#include "package/bytes.h"

#include <memory>

namespace qv::pack {

// Takes an open file (opened for reading, its sharing the caller's choice)
// and reads it at any offset; null when it is no file or its size cannot
// be had.
std::unique_ptr<ByteSource> FileBytes(UniqueFile file);

// Writes to a file handle it does not own, and keeps the system's code for
// the first write that failed.
class HandleSink : public ByteSink {
 public:
  explicit HandleSink(HANDLE file) : file_(file) {}
  bool Write(const void* data, std::size_t n) override;
  bool Failed() const { return error_ != 0; }
  DWORD Error() const { return error_; }

 private:
  HANDLE file_;
  DWORD error_ = 0;
};

}  // namespace qv::pack
