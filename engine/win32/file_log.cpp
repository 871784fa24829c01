#include "engine/win32/file_log.h"

#include <windows.h>
#include <ntsecapi.h>

#include "engine/text.h"
#include "engine/win32/access.h"
#include "framework/portable/hex.h"
#include "framework/portable/utf8.h"
#include "framework/text_conv.h"
#include "framework/windows_paths.h"

namespace qv {

namespace {

// Shared for writing: the run started again with other rights writes on in
// the same log while the first one waits for it.
constexpr DWORD kLogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A log file of our own, made new: never an existing name, never a link's.
UniqueFile NewLog(const std::wstring& path) {
  const UniqueLocal descriptor = access::Descriptor(access::OwnDacl());
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE | READ_CONTROL, kLogSharing,
                                descriptor ? &security : nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  // A link on the way to its folder would have put it elsewhere: the file
  // just made goes again.
  if (file && !access::ReachedDirectly(file.Get(), path)) {
    file.Reset();
    ::DeleteFileW(path.c_str());
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
  }
  return file;
}

// The log at its own name: new, or the one there when it is a file of ours
// (emptied unless written on). Never one that is a link or another's: no
// removal either, which could follow a link where links are not told apart.
UniqueFile OpenLog(const std::wstring& path, bool append, bool& made) {
  made = true;
  if (UniqueFile file = NewLog(path)) return file;
  made = false;
  if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) return UniqueFile();
  UniqueFile there(::CreateFileW(path.c_str(), GENERIC_WRITE | READ_CONTROL | FILE_READ_ATTRIBUTES, kLogSharing,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!there) return UniqueFile();
  BY_HANDLE_FILE_INFORMATION info{};
  const bool plain = ::GetFileInformationByHandle(there.Get(), &info) &&
                     !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  if (!plain || !access::ReachedDirectly(there.Get(), path) || !access::OnlyOurs(there.Get(), access::Grants::Change)) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return UniqueFile();
  }
  if (append) return there;
  LARGE_INTEGER start{};
  if (::SetFilePointerEx(there.Get(), start, nullptr, FILE_BEGIN) && ::SetEndOfFile(there.Get())) return there;
  return UniqueFile();
}

// A name beside the asked one that nobody can guess and make first.
std::optional<std::wstring> NameBeside(const std::wstring& path) {
  unsigned char bits[8];
  if (!::RtlGenRandom(bits, sizeof bits)) return std::nullopt;
  std::string suffix = "-";
  for (unsigned char b : bits) AppendHex(suffix, b, true);
  const std::size_t dot = path.find_last_of(L".\\");
  const std::size_t at = dot != std::wstring::npos && path[dot] == L'.' ? dot : path.size();
  return path.substr(0, at) + Utf8ToWide(suffix) + path.substr(at);
}

}  // namespace

FileLog::FileLog(const std::string& path, bool append) {
  const std::optional<std::wstring> wide = WidePath(path);
  if (!wide) return;
  bool fresh = false;
  file_ = OpenLog(*wide, append, fresh);
  std::string said;
  if (!file_) {
    const DWORD error = ::GetLastError();
    std::wstring where;
    for (int attempt = 0; attempt < 4 && !file_; ++attempt) {
      const std::optional<std::wstring> beside = NameBeside(*wide);
      if (!beside) break;
      file_ = NewLog(*beside);
      where = *beside;
    }
    if (!file_) return;
    fresh = true;
    said = "not written to " + path + " (error " + std::to_string(error) +
           "): it is held, a link, or another account's; this log is " + WideToUtf8(WithoutPrefix(where));
  }
  // Names of any language: the log is UTF-8, marked so editors know.
  if (fresh || !append) Write("\xEF\xBB\xBF");
  if (said.empty()) return;
  Line("log: " + said);
  // Whoever looks for the log where he asked for it finds none there.
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err && err != INVALID_HANDLE_VALUE) {
    const std::string line = "qvSetup: log: " + said + "\r\n";
    DWORD written = 0;
    ::WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

void FileLog::Write(const std::string& bytes) {
  if (!file_) return;
  // Always at its end, wherever the other run's lines have taken it.
  OVERLAPPED end{};
  end.Offset = end.OffsetHigh = 0xFFFFFFFFu;
  DWORD written = 0;
  ::WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, &end);
}

void FileLog::Line(const std::string& text) {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  // hh:mm:ss.mmm
  std::string stamp = "00:00:00.000 ";
  PutDigits(stamp, 0, t.wHour, 2);
  PutDigits(stamp, 3, t.wMinute, 2);
  PutDigits(stamp, 6, t.wSecond, 2);
  PutDigits(stamp, 9, t.wMilliseconds, 3);
  // Straight to the file, unbuffered: a run that dies still leaves its lines.
  // Bytes that are not UTF-8 are spelled out, or the whole log would read
  // as some other encoding.
  Write(stamp + QuoteInvalidUtf8(text) + "\r\n");
}

}  // namespace qv
