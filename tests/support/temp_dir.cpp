#include "tests/support/temp_dir.h"

#include <atomic>
#include <stdexcept>

#include "framework/text_conv.h"
#include "framework/windows_paths.h"

namespace qv::test {

TempDir::TempDir(const std::string& tag) {
  static std::atomic<int> serial{0};
  wchar_t tmp[MAX_PATH + 1];
  ::GetTempPathW(MAX_PATH + 1, tmp);
  path_ = WideToUtf8(tmp) + "qv_" + tag + "_" + std::to_string(::GetCurrentProcessId()) + "_" +
          std::to_string(serial++) + "\\";
  RemoveTree(path_);
  if (!::CreateDirectoryW(WidePath(path_).value().c_str(), nullptr)) throw std::runtime_error("cannot create " + path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::string& folder) {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\') base += '\\';
  WIN32_FIND_DATAW d;
  HANDLE h = ::FindFirstFileW(WidePath(base + "*").value().c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = WideToUtf8(d.cFileName);
      if (name == "." || name == "..") continue;
      const std::string full = base + name;
      ::SetFileAttributesW(WidePath(full).value().c_str(), FILE_ATTRIBUTE_NORMAL);
      if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        ::DeleteFileW(WidePath(full).value().c_str());
    } while (::FindNextFileW(h, &d));
    ::FindClose(h);
  }
  ::SetFileAttributesW(WidePath(base).value().c_str(), FILE_ATTRIBUTE_NORMAL);
  ::RemoveDirectoryW(WidePath(base).value().c_str());
}

void WriteTextFile(const std::string& path, const std::string& content) {
  MakeFolders(FolderOf(path));
  HANDLE f = ::CreateFileW(WidePath(path).value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
  DWORD n = 0;
  ::WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &n, nullptr);
  ::CloseHandle(f);
}

std::string ReadTextFile(const std::string& path) {
  HANDLE f = ::CreateFileW(WidePath(path).value().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string s(::GetFileSize(f, nullptr), '\0');
  DWORD n = 0;
  ::ReadFile(f, s.data(), static_cast<DWORD>(s.size()), &n, nullptr);
  ::CloseHandle(f);
  s.resize(n);
  return s;
}

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(WidePath(path).value().c_str()); }

bool IsFile(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

void MakeFolders(const std::string& path) {
  if (path.size() < 3 || IsFolder(path)) return;
  MakeFolders(FolderOf(path));
  ::CreateDirectoryW(WidePath(path).value().c_str(), nullptr);
}

}  // namespace qv::test
