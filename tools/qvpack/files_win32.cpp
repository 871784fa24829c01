// qvpack's files on Windows, through the W functions.
#include <windows.h>

#include <algorithm>

#include "framework/handles.h"
#include "framework/text_conv.h"
#include "framework/windows_paths.h"
#include "package/win32/file_bytes.h"
#include "tools/qvpack/files.h"

namespace qv::qvpack {

namespace {

std::uint64_t FromFileTime(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME ToFileTime(std::uint64_t v) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(v);
  t.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return t;
}

// Empty for a path too long for the system.
std::wstring FullPath(const std::string& path) {
  const std::optional<std::wstring> checked = WidePath(path);
  return checked ? qv::FullPath(*checked) : std::wstring();
}

DWORD Attributes(const std::string& path) {
  const std::optional<std::wstring> wide = WidePath(path);
  return wide ? ::GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool SameFullPath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

class Scanner {
 public:
  Scanner(const std::string& skip, std::vector<Item>& items, std::vector<Problem>& problems)
      : items_(items), problems_(problems), skip_(skip.empty() ? std::wstring() : FullPath(skip)) {}

  void Scan(const std::string& disk, const std::string& relative) {
    WIN32_FIND_DATAW data;
    const std::optional<std::wstring> pattern = WidePath(disk + "\\*");
    UniqueFind find(pattern ? ::FindFirstFileExW(pattern->c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                                 nullptr, FIND_FIRST_EX_LARGE_FETCH)
                            : INVALID_HANDLE_VALUE);
    if (!find) {
      Report(relative.empty() ? disk : relative, "cannot be read: " + LastErrorText());
      return;
    }
    std::vector<WIN32_FIND_DATAW> found;
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") found.push_back(data);
    } while (::FindNextFileW(find.Get(), &data));
    std::vector<std::pair<std::string, const WIN32_FIND_DATAW*>> names;
    for (const auto& f : found) names.emplace_back(WideToUtf8(f.cFileName), &f);
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return NameBefore(a.first, b.first); });
    for (const auto& [name, f] : names) {
      const std::string path = disk + "\\" + name;
      const std::string rel = relative.empty() ? name : relative + "\\" + name;
      const bool folder = (f->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      // A junction or linked folder could lead anywhere, even back here.
      if (folder && (f->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Report(rel, "is a linked folder: left out");
        continue;
      }
      if (!skip_.empty() && !folder && SameFullPath(FullPath(path), skip_)) continue;
      Item item;
      item.path = rel;
      item.diskPath = path;
      item.attributes = f->dwFileAttributes & kKeptAttributes;
      item.modified = FromFileTime(f->ftLastWriteTime);
      item.size = folder ? 0 : (static_cast<std::uint64_t>(f->nFileSizeHigh) << 32) | f->nFileSizeLow;
      items_.push_back(item);
      if (folder) Scan(path, rel);
    }
  }

 private:
  void Report(const std::string& what, const std::string& text) {
    problems_.push_back({0, Severity::Warning, "'" + what + "' " + text});
  }

  std::vector<Item>& items_;
  std::vector<Problem>& problems_;
  std::wstring skip_;
};

class Win32Output : public OutputFile {
 public:
  Win32Output(UniqueFile file, std::wstring writing, std::wstring final)
      : file_(std::move(file)), sink_(file_.Get()), writing_(std::move(writing)), final_(std::move(final)) {}
  ~Win32Output() override {
    file_.Reset();
    if (!committed_) ::DeleteFileW(writing_.c_str());
  }
  bool Write(const void* data, std::size_t n) override {
    if (!sink_.Write(data, n)) return false;
    if (written) written(n);
    return true;
  }
  bool Commit() override {
    file_.Reset();
    if (writing_ != final_ && !::MoveFileExW(writing_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING))
      return false;
    committed_ = true;
    return true;
  }

 private:
  UniqueFile file_;
  pack::HandleSink sink_;
  std::wstring writing_, final_;
  bool committed_ = false;
};

}  // namespace

std::vector<Item> ScanFolder(const std::string& folder, const std::string& skip, std::vector<Problem>& problems) {
  std::vector<Item> items;
  std::string root = folder;
  while (root.size() > 1 && (root.back() == '\\' || root.back() == '/') && root[root.size() - 2] != ':')
    root.pop_back();
  Scanner(skip, items, problems).Scan(root, "");
  return items;
}

bool IsFolder(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderHasEntries(const std::string& path) {
  WIN32_FIND_DATAW data;
  const std::optional<std::wstring> pattern = WidePath(path + "\\*");
  UniqueFind find(pattern ? ::FindFirstFileW(pattern->c_str(), &data) : INVALID_HANDLE_VALUE);
  if (!find) return false;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") return true;
  } while (::FindNextFileW(find.Get(), &data));
  return false;
}

bool MakeFolders(const std::string& path) {
  if (path.empty() || IsFolder(path)) return true;
  const std::size_t cut = path.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0 && path[cut - 1] != ':' && !MakeFolders(path.substr(0, cut)))
    return false;
  const std::optional<std::wstring> wide = WidePath(path);
  return wide && (::CreateDirectoryW(wide->c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
}

std::string DiskPath(const std::string& folder, const std::string& packagePath) {
  std::string f = folder;
  if (!f.empty() && f.back() != '\\' && f.back() != '/') f += '\\';
  return f + packagePath;
}

std::unique_ptr<pack::ByteSource> OpenFileSource(const std::string& path) {
  const std::optional<std::wstring> wide = WidePath(path);
  if (!wide) return nullptr;
  return pack::FileBytes(UniqueFile(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path, bool viaTemporary) {
  const std::optional<std::wstring> final = WidePath(path);
  const std::optional<std::wstring> writing = !final || !viaTemporary ? final : WidePath(path + ".qvpack-part");
  if (!writing) return nullptr;
  UniqueFile file(::CreateFileW(writing->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (!file) return nullptr;
  return std::make_unique<Win32Output>(std::move(file), *writing, *final);
}

std::string SetFileDetails(const std::string& path, std::uint32_t attributes, std::uint64_t modified) {
  const std::optional<std::wstring> checked = WidePath(path);
  if (!checked) return "cannot keep its time: " + LastErrorText();
  const std::wstring& wide = *checked;
  {
    // Folders open only with backup semantics.
    UniqueFile file(::CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const FILETIME t = ToFileTime(modified);
    if (!file || !::SetFileTime(file.Get(), nullptr, nullptr, &t)) return "cannot keep its time: " + LastErrorText();
  }
  // Read-only goes last: the time could not be set after it.
  const DWORD a = attributes & kKeptAttributes & ~FILE_ATTRIBUTE_DIRECTORY;
  if (!::SetFileAttributesW(wide.c_str(), a == 0 ? FILE_ATTRIBUTE_NORMAL : a))
    return "cannot keep its attributes: " + LastErrorText();
  return {};
}

std::string LastErrorText() {
  const DWORD code = ::GetLastError();
  std::string s = SystemMessage(code);
  if (s.empty()) return "error " + std::to_string(code);
  while (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

std::string ProgramFolder() {
  const std::string self = WideToUtf8(ModulePath());
  const std::size_t cut = self.find_last_of('\\');
  return cut == std::string::npos ? std::string() : self.substr(0, cut);
}

std::string DecodeAnsi(unsigned codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const UINT cp = codePage == 0 ? CP_ACP : codePage;
  const int n = ::MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return WideToUtf8(wide);
}

namespace {
HANDLE StreamHandle(Stream stream) {  // not owned
  return ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}
}  // namespace

bool IsTerminal(Stream stream) {
  DWORD mode;
  return ::GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

void Print(Stream stream, std::string_view text) {
  const HANDLE h = StreamHandle(stream);
  DWORD mode, n;
  if (::GetConsoleMode(h, &mode)) {
    const std::wstring wide = Utf8ToWide(text);
    ::WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &n, nullptr);
  } else {
    ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  }
}

}  // namespace qv::qvpack
