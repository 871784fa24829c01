#include "engine/win32/win32_platform.h"

#include <windows.h>
#include <ntsecapi.h>
#include <restartmanager.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "engine/entries.h"
#include "engine/setup_engine.h"
#include "engine/text.h"
#include "engine/win32/access.h"
#include "framework/dll_safety.h"
#include "framework/handles.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/hex.h"
#include "framework/portable/utf8.h"
#include "framework/registry.h"
#include "framework/text_conv.h"
#include "package/win32/file_bytes.h"

namespace qv {

static_assert(kAttrReadOnly == FILE_ATTRIBUTE_READONLY && kAttrHidden == FILE_ATTRIBUTE_HIDDEN &&
              kAttrSystem == FILE_ATTRIBUTE_SYSTEM && kAttrDirectory == FILE_ATTRIBUTE_DIRECTORY &&
              kAttrArchive == FILE_ATTRIBUTE_ARCHIVE && kAttrTemporary == FILE_ATTRIBUTE_TEMPORARY &&
              kAttrReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT &&
              kAttrNotContentIndexed == FILE_ATTRIBUTE_NOT_CONTENT_INDEXED && kNoAttributes == INVALID_FILE_ATTRIBUTES);
static_assert(static_cast<DWORD>(RegType::Text) == REG_SZ && static_cast<DWORD>(RegType::ExpandText) == REG_EXPAND_SZ &&
              static_cast<DWORD>(RegType::Binary) == REG_BINARY && static_cast<DWORD>(RegType::Dword) == REG_DWORD);
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND && kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorDamagedData == ERROR_CRC && kErrorPathTooLong == ERROR_FILENAME_EXCED_RANGE);
static_assert(kErrorDirNotEmpty == ERROR_DIR_NOT_EMPTY && kErrorKeyHasChildren == ERROR_KEY_HAS_CHILDREN);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED && kErrorReachedThroughLink == ERROR_CANT_ACCESS_FILE);

namespace {

// Folder queries give an empty string rather than a half-filled buffer when
// the path does not fit.
template <typename Query>
std::string FolderQuery(Query query) {
  wchar_t buf[MAX_PATH + 1];
  const UINT n = query(buf, static_cast<UINT>(std::size(buf)));
  return (n == 0 || n >= std::size(buf)) ? std::string() : WideToUtf8({buf, n});
}

// Decimal digits into a fixed place of a text, by hand: a printf would bring
// the C runtime's whole formatter into the program.
void PutDigits(std::string& text, std::size_t at, unsigned value, std::size_t digits) {
  for (std::size_t i = digits; i-- > 0; value /= 10) text[at + i] = static_cast<char>('0' + value % 10);
}

std::uint64_t Ticks64(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FindEntry EntryOf(const WIN32_FIND_DATAW& d) {
  return {WideToUtf8(d.cFileName), d.dwFileAttributes,
          (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow, Ticks64(d.ftLastWriteTime)};
}

HKEY RootKey(std::uint32_t root) { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(root)); }

TRegistry Registry(std::uint32_t root, REGSAM access, REGSAM view) {
  TRegistry reg(access | view);
  reg.SetRootKey(RootKey(root));
  return reg;
}

class Win32Find : public FindHandle {
 public:
  explicit Win32Find(HANDLE h) : h_(h) {}
  bool Next(FindEntry& e) override {
    WIN32_FIND_DATAW d;
    if (!::FindNextFileW(h_.Get(), &d)) return false;
    e = EntryOf(d);
    return true;
  }

 private:
  UniqueFind h_;
};

// Whether a full path is the folder or lies below it, letter case aside.
bool Below(const std::wstring& path, const std::wstring& folder) {
  const std::size_t n = folder.size();
  return !folder.empty() && path.size() >= n && (path.size() == n || path[n] == L'\\') &&
         ::CompareStringOrdinal(path.c_str(), static_cast<int>(n), folder.c_str(), static_cast<int>(n), TRUE) ==
             CSTR_EQUAL;
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  if (full.empty()) return path;
  const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return path;
  full.resize(n);
  return full;
}

}  // namespace

std::wstring Win32Platform::Native(const std::wstring& path) const {
  if (sysnative_.empty()) return path;
  // Compared in full: a relative path, "..", or forward slashes may name
  // the system folder too.
  const bool prefixed = path.rfind(L"\\\\?\\", 0) == 0;
  const std::wstring full = prefixed ? path.substr(4) : FullPath(path);
  if (!Below(full, systemFolder_)) return path;
  std::wstring native = sysnative_ + full.substr(systemFolder_.size());
  // A unit longer than before: it may need the long form now.
  if (prefixed || native.size() >= MAX_PATH - 12) native.insert(0, L"\\\\?\\");
  return native;
}

std::optional<std::wstring> Win32Platform::FilePath(const std::string& path) const {
  std::optional<std::wstring> wide = WidePath(path);
  if (!wide) return std::nullopt;
  *wide = Native(*wide);
  if (!FitsSystem(wide->size())) return std::nullopt;
  return wide;
}

std::wstring Win32Platform::SystemName(const std::wstring& path) const {
  const std::size_t at = path.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
  if (!Below(path.substr(at), sysnative_)) return path;
  return path.substr(0, at) + systemFolder_ + path.substr(at + sysnative_.size());
}

std::string Win32Platform::WindowsFolder() {
  return FolderQuery([](wchar_t* b, UINT n) { return ::GetWindowsDirectoryW(b, n); });
}

std::string Win32Platform::SystemFolder() {
  return FolderQuery([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); });
}

std::string Win32Platform::TempPath() {
  return FolderQuery([](wchar_t* b, UINT n) { return static_cast<UINT>(::GetTempPathW(n, b)); });
}

RegistryText Win32Platform::ReadRegistryText(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) {
  // Reading needs no more than read access; asking for more fails for a
  // standard user under HKLM and would lose the value.
  TRegistry reg = Registry(root, KEY_READ, view_);
  if (!reg.OpenKey(subkey, false)) return {RegistryText::Status::KeyNotOpened, {}};
  const std::optional<DWORD> type = reg.DataType(name);
  if (!type) return {RegistryText::Status::Absent, {}};
  if (*type != REG_SZ && *type != REG_EXPAND_SZ) return {RegistryText::Status::NotText, {}};
  std::optional<std::string> text = reg.ReadText(name);
  return {RegistryText::Status::Text, text.value_or(std::string()), *type == REG_EXPAND_SZ};
}

RegWrite Win32Platform::WriteRegistryValue(std::uint32_t root, const std::string& subkey,
                                           const std::string& name, RegType type,
                                           const std::vector<std::uint8_t>& data) {
  TRegistry reg = Registry(root, KEY_ALL_ACCESS, view_);
  if (!reg.OpenKey(subkey, true)) return RegWrite::KeyNotOpened;
  bool written;
  if (type == RegType::Text || type == RegType::ExpandText) {
    // UTF-8 with its zero in, UTF-16 with its zero out.
    const std::wstring text = Utf8ToWide({reinterpret_cast<const char*>(data.data()), data.size()});
    written = reg.WriteText(name, text, type == RegType::Text ? REG_SZ : REG_EXPAND_SZ);
  } else {
    written = reg.WriteData(name, static_cast<DWORD>(type), data);
  }
  return written ? RegWrite::Written : RegWrite::WriteFailed;
}

std::optional<StoredValue> Win32Platform::ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                                          const std::string& name) {
  TRegistry reg = Registry(root, KEY_READ, view_);
  if (!reg.OpenKey(subkey, false)) return std::nullopt;
  auto stored = reg.ReadData(name);
  if (!stored) return std::nullopt;
  return StoredValue{stored->first, std::move(stored->second)};
}

bool Win32Platform::WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                     const StoredValue& value) {
  TRegistry reg = Registry(root, KEY_ALL_ACCESS, view_);
  return reg.OpenKey(subkey, true) && reg.WriteData(name, value.type, value.data);
}

RegistryPresence Win32Platform::FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                                  const std::string& name) {
  TRegistry reg = Registry(root, KEY_READ, view_);
  if (!reg.OpenKey(subkey, false)) return {};
  return {true, reg.DataType(name).has_value()};
}

bool Win32Platform::DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) {
  TRegistry reg = Registry(root, KEY_SET_VALUE, view_);
  return reg.OpenKey(subkey, false) && reg.DeleteValue(name);
}

bool Win32Platform::DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) {
  TRegistry reg = Registry(root, KEY_READ, view_);
  if (!whole) {
    // The system deletes a key with values in it; we keep it.
    if (!reg.OpenKey(subkey, false)) return false;
    const std::optional<bool> empty = reg.KeyEmpty();
    if (!empty) return false;
    if (!*empty) {
      ::SetLastError(ERROR_KEY_HAS_CHILDREN);
      return false;
    }
  }
  return reg.DeleteKey(subkey, whole);
}

std::uint32_t Win32Platform::Attributes(const std::string& path) {
  const std::optional<std::wstring> wide = FilePath(path);
  return wide ? ::GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool Win32Platform::MakeFolder(const std::string& path) {
  const std::optional<std::wstring> wide = FilePath(path);
  return wide && ::CreateDirectoryW(wide->c_str(), nullptr) != 0;
}

std::unique_ptr<FindHandle> Win32Platform::FindFirst(const std::string& pattern, FindEntry& first) {
  const std::optional<std::wstring> wide = FilePath(pattern);
  if (!wide) return nullptr;
  WIN32_FIND_DATAW d;
  HANDLE h = ::FindFirstFileW(wide->c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  first = EntryOf(d);
  return std::make_unique<Win32Find>(h);
}

namespace {

// Removes what a failed copy may have left, keeping the error to report.
bool FailAndRemove(const std::wstring& partial) {
  const DWORD error = ::GetLastError();
  ::SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(partial.c_str());
  ::SetLastError(error);
  return false;
}

}  // namespace

bool Win32Platform::CopyOneFile(const std::string& from, const std::string& to) {
  // A copy that fails halfway (disk full, read error) must not leave half a
  // file. A new file is removed again; an existing one is replaced only by a
  // complete copy made beside it and put in place in one step, so the old
  // file stays as it was. Attributes and times come from the system's copy
  // either way.
  heldBy_.clear();
  if (!waiting_.empty()) waiting_.erase(FileNameKey(to));
  const std::optional<std::wstring> source = FilePath(from);
  const std::optional<std::wstring> target = source ? FilePath(to) : std::nullopt;
  if (!target) return false;
  const auto copyTo = [&](const std::wstring& path) {
    if (::CopyFileW(source->c_str(), path.c_str(), TRUE)) return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? false : FailAndRemove(path);
  };
  if (::GetFileAttributesW(target->c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (copyTo(*target)) return true;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return Replace(to, *target, copyTo);
}

namespace {

// Where a new file waits for the next restart to take its place.
constexpr char kWaitingSuffix[] = ".replaces-at-restart";

// The programs that hold a file, as the system's Restart Manager names them
// (none where it cannot tell).
std::string HoldersOf(const std::wstring& path) {
  // Looked up, not imported: a DLL that is no known one would be looked for
  // beside the program first.
  using Start = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
  using Register = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
  using List = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
  using End = DWORD(WINAPI*)(DWORD);
  const auto start = SystemFunction<Start>(L"rstrtmgr.dll", "RmStartSession");
  const auto add = SystemFunction<Register>(L"rstrtmgr.dll", "RmRegisterResources");
  const auto list = SystemFunction<List>(L"rstrtmgr.dll", "RmGetList");
  const auto end = SystemFunction<End>(L"rstrtmgr.dll", "RmEndSession");
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (!start || !add || !list || !end || start(&session, 0, key) != ERROR_SUCCESS) return {};
  std::string names;
  LPCWSTR file = path.c_str();
  UINT needed = 0, count = 0;
  DWORD reasons = 0;
  std::vector<RM_PROCESS_INFO> found;
  if (add(session, 1, &file, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
      list(session, &needed, &count, nullptr, &reasons) == ERROR_MORE_DATA && needed > 0) {
    found.resize(needed);
    count = needed;
    if (list(session, &needed, &count, found.data(), &reasons) != ERROR_SUCCESS) count = 0;
  }
  end(session);
  const DWORD error = ::GetLastError();
  for (UINT i = 0; i < count && i < found.size(); ++i)
    names += (names.empty() ? "" : ", ") + WideToUtf8(found[i].strAppName) + " (process " +
             std::to_string(found[i].Process.dwProcessId) + ")";
  ::SetLastError(error);
  return names;
}

// A refusal that came from a running program holding the file. Windows
// refuses to replace a running program's own file as access denied, and
// Wine any file another program opened unshared. The Restart Manager is
// asked by the file's system name.
bool HeldElsewhere(const std::wstring& path, const std::wstring& systemName, DWORD error) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  // Asking only to delete, shared with everybody: only a holder refuses that.
  const UniqueFile probe(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!probe) return ::GetLastError() == ERROR_SHARING_VIOLATION;
  return !HoldersOf(systemName).empty();
}

}  // namespace

bool Win32Platform::Replace(const std::string& to, const std::wstring& target,
                            const std::function<bool(const std::wstring&)>& write) {
  // A short name beside the target: the target's own name may already be as
  // long as a name can be. One counter for every file this run writes.
  static unsigned serial = 0;
  const std::string stem = FolderPart(to) + "~qv" + std::to_string(::GetCurrentProcessId()) + "_";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(serial++);
    const std::optional<std::wstring> temp = FilePath(name + ".tmp");
    if (!temp) return false;
    if (!write(*temp)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;  // somebody else's name
      return false;
    }
    if (::MoveFileExW(temp->c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (!NoteIfHeld(target)) return FailAndRemove(*temp);
    // Only an administrator may have the system put it in place at the
    // next restart. Until then the new file waits under a name that says so.
    // The restart knows no 32-bit layer: it takes the system's names.
    const std::optional<std::wstring> waiting = FilePath(name + kWaitingSuffix);
    const bool moved = waiting && Elevated() && ::MoveFileExW(temp->c_str(), waiting->c_str(), 0);
    if (!moved || !::MoveFileExW(SystemName(*waiting).c_str(), SystemName(target).c_str(),
                                 MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
      ::SetLastError(ERROR_SHARING_VIOLATION);
      return FailAndRemove(moved ? *waiting : *temp);
    }
    waiting_[FileNameKey(to)] = name + kWaitingSuffix;
    return true;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return false;
}

bool Win32Platform::NoteIfHeld(const std::wstring& path) {
  const DWORD error = ::GetLastError();
  const std::wstring named = SystemName(path);
  if (!HeldElsewhere(path, named, error)) {
    ::SetLastError(error);
    return false;
  }
  heldBy_ = HoldersOf(named);
  ::SetLastError(ERROR_SHARING_VIOLATION);
  return true;
}

std::optional<std::string> Win32Platform::WaitingBeside(const std::string& path) {
  if (waiting_.empty()) return std::nullopt;
  const auto it = waiting_.find(FileNameKey(path));
  if (it == waiting_.end()) return std::nullopt;
  return it->second;
}

namespace {

// The attribute bits an installed file may be given: the kept ones but the
// folder bit, and never "temporary", which would let the system hold the
// program's bytes back from the disk.
constexpr DWORD kSettableAttributes = kKeptAttributes & ~(kAttrDirectory | kAttrTemporary);
static_assert(kSettableAttributes == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));

// Gives a new file its time and attributes and closes it; removes it when
// either fails.
bool FinishNew(UniqueFile& file, const std::wstring& path, std::uint32_t attributes, std::uint64_t modified) {
  // Time and attributes in one call on the open handle, not a second
  // lookup of the path: that costs as much as creating the file.
  FILE_BASIC_INFO basic{};
  basic.LastWriteTime.QuadPart = static_cast<LONGLONG>(modified);
  const DWORD wanted = attributes & kSettableAttributes;
  basic.FileAttributes = wanted ? wanted : FILE_ATTRIBUTE_NORMAL;
  // Closing flushes what is buffered: a full disk may only show there.
  if (::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic) && ::CloseHandle(file.Release()))
    return true;
  const DWORD error = ::GetLastError();
  file.Reset();  // an open file cannot be removed
  ::SetLastError(error);
  return FailAndRemove(path);
}

// A new file with content already in memory, as a worker writes it: 0 or
// the error. Nothing is left of it when it fails, and an existing file is
// not touched.
DWORD WriteBuffered(const std::wstring& path, std::uint32_t attributes, std::uint64_t modified,
                    const std::string& content) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError();
  DWORD written = 0;
  if (!content.empty() &&
      (!::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
       written != content.size())) {
    const DWORD error = written != content.size() && ::GetLastError() == 0 ? ERROR_WRITE_FAULT : ::GetLastError();
    file.Reset();
    ::SetLastError(error);
    FailAndRemove(path);
    return error;
  }
  return FinishNew(file, path, attributes, modified) ? 0 : ::GetLastError();
}

// The content of a file up to this size is read into memory on the
// engine's thread and written by a worker; a larger one is written as it
// is read, on the engine's thread.
constexpr std::uint64_t kLargestBuffered = 1u << 20;

class StringSink : public pack::ByteSink {
 public:
  explicit StringSink(std::string& text) : text_(text) {}
  bool Write(const void* data, std::size_t n) override {
    text_.append(static_cast<const char*>(data), n);
    return true;
  }

 private:
  std::string& text_;
};

}  // namespace

bool Win32Platform::WriteNew(const std::wstring& path, std::uint32_t attributes, std::uint64_t modified,
                             const FileProducer& produce) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  pack::HandleSink out(file.Get());
  if (!produce(out)) {
    ::SetLastError(out.Failed() ? out.Error() : ERROR_CRC);
    file.Reset();
    return FailAndRemove(path);
  }
  return FinishNew(file, path, attributes, modified);
}

bool Win32Platform::WriteFileFrom(const std::string& to, std::uint32_t attributes, std::uint64_t modified,
                                  const FileProducer& produce) {
  // The same rules as CopyOneFile: a new file is written in place and
  // removed again on failure; an existing one is replaced only by a complete
  // file written beside it. Creating the file refuses an existing one, so
  // there is no look beforehand.
  heldBy_.clear();
  if (!waiting_.empty()) waiting_.erase(FileNameKey(to));
  const std::optional<std::wstring> target = FilePath(to);
  if (!target) return false;
  if (WriteNew(*target, attributes, modified, produce)) return true;
  const DWORD refused = ::GetLastError();
  if (refused != ERROR_FILE_EXISTS && refused != ERROR_ALREADY_EXISTS) return false;
  return Replace(to, *target,
                 [&](const std::wstring& temp) { return WriteNew(temp, attributes, modified, produce); });
}

// Which way the files go: many small files cost the system more to
// create, close and delete than to write, so that part goes to a few
// workers while the engine's thread reads on (the package, the next
// folder's listing). A worker only does what cannot touch another file: it
// makes a new file whole or removes it again, or deletes one file the way
// DeleteOneFile would. Anything else (a file to replace, one in use, any
// failure) is done again on the engine's thread by the plain call, in the
// order the files were started, so that its error, its log line and its
// record line are exactly what they would have been.
void Win32Platform::Hand(FilePool::Work work, std::function<bool()> again, FileDone done, std::size_t bytes) {
  if (!pool_) pool_ = std::make_unique<FilePool>();
  const auto finish = [again, done](DWORD result) { done(result == 0 || again()); };
  if (pool_->Add(std::move(work), finish, bytes)) return;
  Settle();
  done(again());
}

void Win32Platform::Settle() {
  if (pool_) pool_->Reap(true);
}

void Win32Platform::StartCopy(const std::string& from, const std::string& to, FileDone done) {
  const std::optional<std::wstring> source = FilePath(from);
  const std::optional<std::wstring> target = source ? FilePath(to) : std::nullopt;
  if (!target) {
    Settle();
    done(CopyOneFile(from, to));
    return;
  }
  if (!waiting_.empty()) waiting_.erase(FileNameKey(to));
  Hand(
      [source = *source, target = *target]() -> DWORD {
        if (::CopyFileW(source.c_str(), target.c_str(), TRUE)) return 0;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) FailAndRemove(target);
        return error;
      },
      [this, from, to] { return CopyOneFile(from, to); }, std::move(done), 0);
}

void Win32Platform::StartWrite(const std::string& to, std::uint32_t attributes, std::uint64_t modified,
                               std::uint64_t size, const FileProducer& produce, FileDone done) {
  const std::optional<std::wstring> target = size <= kLargestBuffered ? FilePath(to) : std::nullopt;
  if (!target) {
    Settle();
    done(WriteFileFrom(to, attributes, modified, produce));
    return;
  }
  auto content = std::make_shared<std::string>();
  content->reserve(static_cast<std::size_t>(size));
  StringSink sink(*content);
  // Content that cannot be had fails the plain way: the same error, the
  // same file left, whatever was there.
  const bool had = produce(sink);
  const auto replay = [content, had](pack::ByteSink& out) { return had && out.Write(content->data(), content->size()); };
  if (!had) {
    Settle();
    done(WriteFileFrom(to, attributes, modified, replay));
    return;
  }
  if (!waiting_.empty()) waiting_.erase(FileNameKey(to));
  Hand([target = *target, attributes, modified, content] { return WriteBuffered(target, attributes, modified, *content); },
       [this, to, attributes, modified, replay] { return WriteFileFrom(to, attributes, modified, replay); },
       std::move(done), content->size());
}

void Win32Platform::StartDelete(const std::string& path, FileDone done) {
  const std::optional<std::wstring> wide = FilePath(path);
  if (!wide) {
    Settle();
    done(DeleteOneFile(path));
    return;
  }
  // Whether its folder is held is known here; the caller keeps the hold
  // until it has settled.
  const bool byName = !held_.empty() && held_.count(FileNameKey(FolderPart(path)));
  Hand(
      [wide = *wide, named = SystemName(*wide), byName]() -> DWORD {
        return (byName ? DeleteByName(wide) : DeleteOpened(wide, named)) ? 0 : ::GetLastError();
      },
      [this, path] { return DeleteOneFile(path); }, std::move(done), 0);
}

void Win32Platform::StartRemoveFolder(const std::string& path, FileDone done) {
  const std::optional<std::wstring> wide = FilePath(path);
  if (!wide) {
    Settle();
    done(RemoveFolder(path));
    return;
  }
  Hand(
      [wide = *wide, named = SystemName(*wide)]() -> DWORD {
        return RemoveUnlinkedFolder(wide, named) ? 0 : ::GetLastError();
      },
      [this, path] { return RemoveFolder(path); }, std::move(done), 0);
}

std::optional<std::string> Win32Platform::MakePrivateFolder(const std::string& prefix) {
  const UniqueLocal descriptor = access::Descriptor(access::PrivateDacl());
  if (!descriptor) return std::nullopt;
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
  const std::string temp = TempPath();
  if (temp.empty()) return std::nullopt;
  for (int attempt = 0; attempt < 16; ++attempt) {
    // 128 random bits from the system's generator: nobody can guess the
    // name and make it first.
    unsigned char bits[16];
    if (!::RtlGenRandom(bits, sizeof bits)) return std::nullopt;
    std::string name = temp + prefix;
    for (unsigned char b : bits) AppendHex(name, b, true);
    // Never one that is there already: whoever made it may hold it.
    const std::optional<std::wstring> wide = FilePath(name);
    if (!wide) return std::nullopt;
    if (::CreateDirectoryW(wide->c_str(), &security)) return name + "\\";
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

namespace {

// Everything under a folder, files first in the order met, folders after
// their contents. Links are listed, never followed.
bool ListTree(const std::wstring& folder, std::vector<std::wstring>& files, std::vector<std::wstring>& folders) {
  WIN32_FIND_DATAW d;
  if (!FitsSystem(folder.size() + 2)) return false;
  UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &d));
  if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring name = d.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if (!FitsSystem(path.size())) return false;
    if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      if (!ListTree(path, files, folders)) return false;
    } else if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      folders.push_back(path);
    } else {
      files.push_back(path);
    }
  } while (::FindNextFileW(find.Get(), &d));
  folders.push_back(folder);
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

bool Win32Platform::RemoveTree(const std::string& folder) {
  const std::optional<std::wstring> wide = FilePath(folder);
  if (!wide) return false;
  std::wstring root = *wide;
  while (!root.empty() && root.back() == L'\\') root.pop_back();
  {
    // Only a folder of ours: itself, not a link to one, owned by us and
    // open to nobody else. A name in a shared folder such as %TEMP% proves
    // nothing: anybody may have made it, or made it lead elsewhere.
    const UniqueFile top = access::OpenNoFollow(root, 0);
    FILE_BASIC_INFO info{};
    if (!top || !::GetFileInformationByHandleEx(top.Get(), FileBasicInfo, &info, sizeof info)) return false;
    if (!(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !access::ReachedDirectly(top.Get(), SystemName(root)) || !access::OnlyOurs(top.Get(), access::Grants::Anything)) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
  }
  std::vector<std::wstring> files, folders;
  if (!ListTree(root, files, folders)) return false;
  // Every file is opened for deletion, unshared, before any is deleted: a
  // program still running from the folder (or anything else holding a file
  // of it) keeps the whole folder as it is, not a folder with its DLLs gone.
  std::vector<UniqueFile> held;
  for (const std::wstring& f : files) {
    UniqueFile h(::CreateFileW(f.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h) return false;
    held.push_back(std::move(h));
  }
  bool ok = true;
  for (UniqueFile& h : held) {
    // A read-only file cannot be deleted: clear it first.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(h.Get(), FileBasicInfo, &basic, sizeof basic);
    FILE_DISPOSITION_INFO dispose{TRUE};
    ok = ::SetFileInformationByHandle(h.Get(), FileDispositionInfo, &dispose, sizeof dispose) && ok;
  }
  held.clear();
  for (const std::wstring& f : folders) ok = ::RemoveDirectoryW(f.c_str()) && ok;
  return ok;
}

namespace {

class Win32Append : public AppendFile {
 public:
  explicit Win32Append(HANDLE file) : file_(file) {}
  bool Append(std::string_view bytes) override {
    // Flushed at once: the record must hold each line before the action it
    // names happens, power failure or not.
    return AppendCached(bytes) && ::FlushFileBuffers(file_.Get());
  }
  bool AppendCached(std::string_view bytes) override {
    DWORD written = 0;
    return ::WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }

 private:
  UniqueFile file_;
};

}  // namespace

std::optional<FileStamp> Win32Platform::Stamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  const std::optional<std::wstring> wide = FilePath(path);
  if (!wide || !::GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &d) ||
      (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return FileStamp{(static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow, Ticks64(d.ftLastWriteTime)};
}

namespace {

class Win32Hold : public FolderHold {
 public:
  Win32Hold(std::multiset<std::string>& held, std::string key, UniqueFile folder)
      : held_(held), at_(held.insert(std::move(key))), folder_(std::move(folder)) {}
  ~Win32Hold() override { held_.erase(at_); }

 private:
  std::multiset<std::string>& held_;
  std::multiset<std::string>::iterator at_;
  UniqueFile folder_;  // opened without delete sharing: no rename, no removal
};

}  // namespace

std::unique_ptr<FolderHold> Win32Platform::HoldFolder(const std::string& folder) {
  const std::optional<std::wstring> checked = FilePath(folder);
  if (!checked) return nullptr;
  const std::wstring& wide = *checked;
  UniqueFile h(::CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FILE_BASIC_INFO info{};
  if (!h || !::GetFileInformationByHandleEx(h.Get(), FileBasicInfo, &info, sizeof info) ||
      !(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !access::ReachedDirectly(h.Get(), SystemName(wide)))
    return nullptr;
  std::string key = FileNameKey(folder);
  if (key.empty() || key.back() != '\\') key += '\\';
  return std::make_unique<Win32Hold>(held_, std::move(key), std::move(h));
}

bool Win32Platform::DeleteByName(const std::wstring& wide) {
  if (::DeleteFileW(wide.c_str())) return true;
  const DWORD error = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (::DeleteFileW(wide.c_str())) return true;
  const DWORD again = ::GetLastError();
  ::SetFileAttributesW(wide.c_str(), attributes);
  ::SetLastError(again);
  return false;
}

bool Win32Platform::DeleteOneFile(const std::string& path) {
  heldBy_.clear();
  if (DeleteUnlinked(path)) return true;
  if (const std::optional<std::wstring> wide = FilePath(path)) NoteIfHeld(*wide);
  return false;
}

bool Win32Platform::DeleteUnlinked(const std::string& path) {
  const std::optional<std::wstring> checked = FilePath(path);
  if (!checked) return false;
  const std::wstring& wide = *checked;
  // Right in a held folder, the name is enough: a link there is removed
  // itself, never what it leads to.
  if (!held_.empty() && held_.count(FileNameKey(FolderPart(path)))) return DeleteByName(wide);
  return DeleteOpened(wide, SystemName(wide));
}

bool Win32Platform::DeleteOpened(const std::wstring& wide, const std::wstring& systemName) {
  // Through one handle: the file looked at is the file deleted, and only
  // when the path leads to it without a link on the way.
  const UniqueFile file = access::OpenNoFollow(wide, DELETE | FILE_WRITE_ATTRIBUTES);
  // The basic information only: the full one asks the volume too, which
  // costs more than the delete.
  FILE_BASIC_INFO info{};
  if (!file || !::GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &info, sizeof info)) return false;
  if (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!access::ReachedDirectly(file.Get(), systemName)) {
    ::SetLastError(kErrorReachedThroughLink);
    return false;
  }
  const DWORD attributes = info.FileAttributes;
  const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
  FILE_BASIC_INFO basic{};
  if (readOnly) {
    // A read-only file cannot be deleted: clear it, and set it back if the
    // deleting fails after all.
    basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &dispose, sizeof dispose)) return true;
  const DWORD error = ::GetLastError();
  if (readOnly) {
    basic.FileAttributes = attributes;
    ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic);
  }
  ::SetLastError(error);
  return false;
}

bool Win32Platform::RemoveFolder(const std::string& path) {
  const std::optional<std::wstring> checked = FilePath(path);
  return checked && RemoveUnlinkedFolder(*checked, SystemName(*checked));
}

bool Win32Platform::RemoveUnlinkedFolder(const std::wstring& wide, const std::wstring& systemName) {
  {
    const UniqueFile folder = access::OpenNoFollow(wide, 0);
    if (!folder) return false;
    if (!access::ReachedDirectly(folder.Get(), systemName)) {
      ::SetLastError(kErrorReachedThroughLink);
      return false;
    }
  }
  // Removing never goes into a folder, so a link put here since is only
  // removed itself.
  return ::RemoveDirectoryW(wide.c_str()) != 0;
}

bool Win32Platform::Elevated() {
  // A question: the error of the call before stays to be reported.
  const DWORD error = ::GetLastError();
  const bool elevated = access::Elevated();
  ::SetLastError(error);
  return elevated;
}

bool Win32Platform::LimitedAdministrator() {
  // A question, as Elevated is.
  const DWORD error = ::GetLastError();
  const bool limited = access::ElevationType() == TokenElevationTypeLimited;
  ::SetLastError(error);
  return limited;
}

bool Win32Platform::LimitedHalf() {
  // A question, as Elevated is.
  const DWORD error = ::GetLastError();
  const bool split = access::ElevationType() == TokenElevationTypeFull;
  ::SetLastError(error);
  return split;
}

bool Win32Platform::Windows64() {
  // x86 emulation on ARM64 is the 32-bit layer too.
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

void Win32Platform::UseNativeView() {
  if (!Windows64()) return;
  view_ = KEY_WOW64_64KEY;
  // The 32-bit layer sends the system folder to SysWOW64; the way to the
  // 64-bit one is this folder, which only it knows.
  systemFolder_ = Utf8ToWide(SystemFolder());
  sysnative_ = Utf8ToWide(WindowsFolder()) + L"\\Sysnative";
}

namespace {

// The system's folder for an id, as it names it whether it is there yet or
// not; empty when it has none.
std::string ShellFolder(const KNOWNFOLDERID& id) {
  wchar_t* path = nullptr;
  const HRESULT hr = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
  const ShellMemory<wchar_t> owned(path);  // given back even on failure
  return SUCCEEDED(hr) && path ? WideToUtf8(path) : std::string();
}

}  // namespace

std::string Win32Platform::KnownFolderPath(KnownFolder which) {
  const bool windows64 = Windows64();
  std::string path;
  switch (which) {
    case KnownFolder::LocalAppData: path = ShellFolder(FOLDERID_LocalAppData); break;
    case KnownFolder::AppData: path = ShellFolder(FOLDERID_RoamingAppData); break;
    case KnownFolder::UserPrograms:
      path = ShellFolder(FOLDERID_UserProgramFiles);
      // Older systems name no such folder; where it is on newer ones.
      if (path.empty()) {
        path = KnownFolderPath(KnownFolder::LocalAppData);
        if (!path.empty()) path += "\\Programs";
      }
      break;
    case KnownFolder::Profile: path = ShellFolder(FOLDERID_Profile); break;
    case KnownFolder::StartMenuPrograms: path = ShellFolder(FOLDERID_Programs); break;
    case KnownFolder::Desktop: path = ShellFolder(FOLDERID_Desktop); break;
    case KnownFolder::Startup: path = ShellFolder(FOLDERID_Startup); break;
    case KnownFolder::CommonAppData: path = ShellFolder(FOLDERID_ProgramData); break;
    case KnownFolder::CommonStartMenuPrograms: path = ShellFolder(FOLDERID_CommonPrograms); break;
    case KnownFolder::CommonDesktop: path = ShellFolder(FOLDERID_PublicDesktop); break;
    case KnownFolder::CommonStartup: path = ShellFolder(FOLDERID_CommonStartup); break;
    case KnownFolder::Fonts: path = ShellFolder(FOLDERID_Fonts); break;
    case KnownFolder::CommonFiles:
      path = ShellFolder(windows64 ? FOLDERID_ProgramFilesCommonX86 : FOLDERID_ProgramFilesCommon);
      break;
    case KnownFolder::ProgramFilesNative:
    case KnownFolder::CommonFilesNative: {
      const bool programs = which == KnownFolder::ProgramFilesNative;
      if (!windows64) {
        path = ShellFolder(programs ? FOLDERID_ProgramFiles : FOLDERID_ProgramFilesCommon);
        break;
      }
      // The shell names only the x86 folders to a 32-bit program. The
      // system's record in the 64-bit view names the others: nobody but
      // administrators may change it, while anybody may give himself
      // environment variables of these names. Those only when it cannot
      // be read.
      TRegistry reg = Registry(kHKLM, KEY_QUERY_VALUE, KEY_WOW64_64KEY);
      if (reg.OpenKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", false))
        path = reg.ReadText(programs ? "ProgramFilesDir" : "CommonFilesDir").value_or("");
      if (path.empty()) {
        wchar_t buf[MAX_PATH + 1];
        const DWORD n = ::GetEnvironmentVariableW(programs ? L"ProgramW6432" : L"CommonProgramW6432", buf,
                                                  static_cast<DWORD>(std::size(buf)));
        if (n > 0 && n < std::size(buf)) path = WideToUtf8({buf, n});
      }
      break;
    }
  }
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

bool Win32Platform::OnlyOursCanChange(const std::string& path) {
  const std::optional<std::wstring> wide = FilePath(path);
  if (!wide) return false;
  const UniqueFile file = access::OpenNoFollow(*wide, 0);
  return file && access::ReachedDirectly(file.Get(), SystemName(*wide)) && access::OnlyOurs(file.Get(), access::Grants::Change);
}

bool Win32Platform::SameFolder(const std::string& a, const std::string& b) {
  const auto identity = [this](const std::string& path) -> std::optional<std::tuple<DWORD, DWORD, DWORD>> {
    const std::optional<std::wstring> wide = FilePath(path);
    if (!wide) return std::nullopt;
    // Through any link: the folder it leads to is the question.
    const UniqueFile folder(::CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!folder || !::GetFileInformationByHandle(folder.Get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return std::nullopt;
    return std::tuple{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  };
  const auto first = identity(a);
  return first && first == identity(b);
}

bool Win32Platform::Protect(const std::string& path) {
  const std::optional<std::wstring> wide = FilePath(path);
  return wide && access::Protect(*wide);
}

namespace {

class Win32ProductHold : public ProductHold {
 public:
  explicit Win32ProductHold(std::unique_ptr<access::Lock> lock) : lock_(std::move(lock)) {}

 private:
  std::unique_ptr<access::Lock> lock_;
};

}  // namespace

std::unique_ptr<ProductHold> Win32Platform::HoldProduct(const std::string& id) {
  // One name for every letter case; an object name takes no backslash and,
  // with its namespace, no more than MAX_PATH characters.
  std::wstring name = L"qvSetup-" + Utf8ToWide(FileNameKey(id));
  std::replace(name.begin(), name.end(), L'\\', L'/');
  if (name.size() > 160) name.resize(160);
  // Only those who may install for everyone can hold a lock that keeps
  // their runs apart; one person's runs share his session's.
  std::unique_ptr<access::Lock> lock = access::Lock::Take(name);
  if (!lock) return nullptr;
  return std::make_unique<Win32ProductHold>(std::move(lock));
}

bool Win32Platform::MoveOneFile(const std::string& from, const std::string& to) {
  const std::optional<std::wstring> source = FilePath(from);
  const std::optional<std::wstring> target = source ? FilePath(to) : std::nullopt;
  // No copy: a running program can be renamed, not copied and deleted.
  return target && ::MoveFileExW(source->c_str(), target->c_str(), 0) != 0;
}

bool Win32Platform::RemoveAtRestart(const std::string& path) {
  // The restart knows no 32-bit layer: it takes the system's name.
  const std::optional<std::wstring> wide = FilePath(path);
  return wide && ::MoveFileExW(SystemName(*wide).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

std::unique_ptr<AppendFile> Win32Platform::OpenAppend(const std::string& path) {
  const std::optional<std::wstring> checked = FilePath(path);
  if (!checked) return nullptr;
  const std::wstring& wide = *checked;
  const UniqueLocal descriptor = access::Descriptor(access::OwnDacl());
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
  UniqueFile file(::CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, descriptor ? &security : nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return nullptr;
  if (!access::ReachedDirectly(file.Get(), SystemName(wide))) {
    ::SetLastError(kErrorReachedThroughLink);
    return nullptr;
  }
  return std::make_unique<Win32Append>(file.Release());
}

std::string Win32Platform::Today() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  std::string date = "00000000";
  PutDigits(date, 0, t.wYear, 4);
  PutDigits(date, 4, t.wMonth, 2);
  PutDigits(date, 6, t.wDay, 2);
  return date;
}

std::optional<std::string> Win32Platform::ReadWholeFile(const std::string& path) {
  const std::optional<std::wstring> wide = FilePath(path);
  if (!wide) return std::nullopt;
  UniqueFile f(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return std::nullopt;
  LARGE_INTEGER size;
  // A setup script is text of a few kilobytes; refuse anything absurd.
  if (!::GetFileSizeEx(f.Get(), &size) || size.QuadPart > (64 << 20)) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() && !::ReadFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
    return std::nullopt;
  bytes.resize(got);
  return bytes;
}

std::string Win32Platform::ResolveProgram(const std::string& commandLine) {
  // A bare name would be looked for beside the installer first, where
  // anybody may have dropped a program of that name: the system folders
  // come first. A program found nowhere there keeps the launcher's search.
  const ProgramToken t = SplitProgram(commandLine);
  if (!IsBareProgramName(t.program)) return commandLine;
  const std::wstring program = Utf8ToWide(t.program);
  for (const std::string& folder : {SystemFolder(), WindowsFolder()}) {
    const std::optional<std::wstring> searched = FilePath(folder);
    wchar_t found[MAX_PATH + 1];
    const DWORD n = searched ? ::SearchPathW(searched->c_str(), program.c_str(), L".exe",
                                             static_cast<DWORD>(std::size(found)), found, nullptr)
                             : 0;
    if (n > 0 && n < std::size(found)) return "\"" + WideToUtf8(SystemName({found, n})) + "\"" + t.rest;
  }
  return commandLine;
}

namespace {

// A path without the \\?\ prefix, where it has one.
std::wstring WithoutPrefix(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + path.substr(7);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

// The short (8.3) form of an existing path, where its volume keeps short
// names; else the path as it is.
std::wstring ShortForm(const std::wstring& path) {
  std::wstring shorter(::GetShortPathNameW(path.c_str(), nullptr, 0), L'\0');
  if (shorter.empty()) return path;
  const DWORD n = ::GetShortPathNameW(path.c_str(), shorter.data(), static_cast<DWORD>(shorter.size()));
  if (n == 0 || n >= shorter.size()) return path;
  shorter.resize(n);
  return shorter;
}

}  // namespace

// The program of a command line whose name the system would not read from
// it: the command line yields at most MAX_PATH units of it. Named apart, it
// may be longer in the \\?\ form, which Windows takes; Wine takes only a
// short name there, so the short form where the volume keeps one. In the
// native view, one in the system folder is named apart by its way there.
// Empty for a name that fits and goes where it says.
std::optional<std::wstring> Win32Platform::ProgramApart(const std::string& program) const {
  const std::wstring named = Utf8ToWide(program);
  if (named.size() < MAX_PATH && Native(named) == named) return std::wstring();
  std::optional<std::wstring> wide = FilePath(program);
  if (!wide) return std::nullopt;
  // The command line's own rule: a name without an extension is a program
  // with .exe.
  const std::size_t name = wide->find_last_of(L'\\') + 1;
  if (::GetFileAttributesW(wide->c_str()) == INVALID_FILE_ATTRIBUTES && wide->find(L'.', name) == std::wstring::npos)
    *wide += L".exe";
  return wide->rfind(L"\\\\?\\", 0) == 0 ? ShortForm(*wide) : *wide;
}

namespace {

// A process starts in a folder of at most MAX_PATH - 2 units, and never in
// a \\?\ one: a longer folder is given by its short form.
std::optional<std::wstring> FolderToStartIn(const std::string& folder) {
  std::wstring wide = Utf8ToWide(folder);
  if (wide.size() < MAX_PATH - 1 && wide.rfind(L"\\\\?\\", 0) != 0) return wide;
  const std::optional<std::wstring> full = WidePath(folder);
  if (!full) return std::nullopt;
  wide = WithoutPrefix(ShortForm(*full));
  if (wide.size() < MAX_PATH - 1) return wide;
  ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return std::nullopt;
}

}  // namespace

bool Win32Platform::StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  // As the classic launcher does: the show code goes to the program's first
  // window, and the call returns once the program waits for input, or after
  // half a minute.
  const std::string resolved = ResolveProgram(commandLine);
  std::wstring command = Utf8ToWide(resolved);
  // The command line itself stays as written: the program reads its own
  // name from it.
  const std::optional<std::wstring> program = ProgramApart(SplitProgram(resolved).program);
  // The folder goes by its name, never through Sysnative: the program
  // looks for it in its own view, and a 64-bit one has no such folder.
  const std::optional<std::wstring> folder =
      workingFolder.empty() ? std::optional<std::wstring>(std::wstring()) : FolderToStartIn(workingFolder);
  if (!program || !folder) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCode);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program->empty() ? nullptr : program->c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, folder->empty() ? nullptr : folder->c_str(), &startup, &started))
    return false;
  const UniqueHandle process(started.hProcess), thread(started.hThread);
  ::WaitForInputIdle(process.Get(), 30000);
  return true;
}

bool Win32Platform::StartWatcher(const std::string& commandLine) {
  HANDLE self = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &self, SYNCHRONIZE,
                         TRUE, 0))
    return false;
  const UniqueHandle handed(self);
  // That one handle is inherited, none of the others an elevated run holds.
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> list(size);
  const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
  struct ListEnd {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~ListEnd() { ::DeleteProcThreadAttributeList(list); }
  } listEnd{attributes};
  if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &self, sizeof self, nullptr,
                                   nullptr))
    return false;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.lpAttributeList = attributes;
  // Named apart: no search for the program, wherever the command line
  // leaves a blank.
  const std::optional<std::wstring> program = FilePath(SplitProgram(commandLine).program);
  std::wstring command =
      Utf8ToWide(commandLine + " " + std::to_string(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(self))));
  // Not in a folder it is to remove: a working folder is in use.
  const std::wstring folder = Utf8ToWide(SystemFolder());
  PROCESS_INFORMATION started{};
  if (!program || !::CreateProcessW(program->c_str(), command.data(), nullptr, nullptr, TRUE,
                                    EXTENDED_STARTUPINFO_PRESENT, nullptr, folder.empty() ? nullptr : folder.c_str(),
                                    &startup.StartupInfo, &started))
    return false;
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

std::optional<int> Win32Platform::RunElevated(const std::vector<std::string>& args) {
  const std::optional<std::string> line = JoinCommandLine(args);
  if (!line) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  // The shell takes no \\?\ name: a longer one by its short form.
  const std::string self = ProgramFileName();
  std::wstring program = Utf8ToWide(self);
  if (program.size() >= MAX_PATH) {
    const std::optional<std::wstring> full = WidePath(self);
    if (!full) return std::nullopt;
    program = WithoutPrefix(ShortForm(*full));
  }
  std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  const std::wstring parameters = Utf8ToWide(*line);
  const ComInit com;  // the shell may hand the start to its extensions
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  // Declined at the prompt, it fails with ERROR_CANCELLED.
  if (!::ShellExecuteExW(&info)) return std::nullopt;
  const UniqueHandle process(info.hProcess);
  if (!process) {
    ::SetLastError(ERROR_INVALID_HANDLE);  // started some other way, nothing to wait for
    return std::nullopt;
  }
  DWORD code = 0;
  if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.Get(), &code))
    return std::nullopt;
  return static_cast<int>(code);
}

std::optional<int> Win32Platform::RunAsLimitedHalf(const std::vector<std::string>& args) {
  const std::optional<std::string> line = JoinCommandLine(args);
  const std::optional<std::wstring> program = WidePath(ProgramFileName());
  if (!line || !program) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  const UniqueHandle token = access::LimitedHalfToken();
  if (!token) {
    ::SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
    return std::nullopt;
  }
  std::wstring commandLine = L"\"" + WithoutPrefix(*program) + L"\" " + Utf8ToWide(*line);
  std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  // The first needs a right an administrator rarely has; the second the
  // right to impersonate, which he has.
  if (!::CreateProcessAsUserW(token.Get(), program->c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &startup, &started) &&
      !::CreateProcessWithTokenW(token.Get(), 0, program->c_str(), commandLine.data(), 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &started))
    return std::nullopt;
  const UniqueHandle process(started.hProcess), thread(started.hThread);
  DWORD code = 0;
  if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.Get(), &code))
    return std::nullopt;
  return static_cast<int>(code);
}

namespace {

// The system's code an HRESULT carries, for LastError; a general failure
// where it carries none.
DWORD CodeOf(HRESULT hr) { return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : ERROR_GEN_FAILURE; }

}  // namespace

bool Win32Platform::MakeShortcut(const Shortcut& shortcut) {
  // Only the .lnk's own path goes through the native view: what is written
  // inside is read by the shell, which knows no Sysnative.
  const std::optional<std::wstring> file = FilePath(shortcut.file);
  if (!file) return false;
  const ComInit com;  // before the objects, so it ends after them
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> persist;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = link->SetPath(Utf8ToWide(shortcut.target).c_str());
  if (SUCCEEDED(hr)) hr = link->SetArguments(Utf8ToWide(shortcut.arguments).c_str());
  // Left unset, the shell shows the target's own icon and starts it in the
  // caller's folder.
  if (SUCCEEDED(hr) && !shortcut.iconFile.empty())
    hr = link->SetIconLocation(Utf8ToWide(shortcut.iconFile).c_str(), shortcut.iconIndex);
  if (SUCCEEDED(hr) && !shortcut.workingFolder.empty())
    hr = link->SetWorkingDirectory(Utf8ToWide(shortcut.workingFolder).c_str());
  if (SUCCEEDED(hr) && !shortcut.description.empty()) hr = link->SetDescription(Utf8ToWide(shortcut.description).c_str());
  if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, persist.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = persist->Save(file->c_str(), TRUE);
  if (SUCCEEDED(hr)) return true;
  ::SetLastError(CodeOf(hr));
  return false;
}

namespace {

// The system cuts an expansion longer than about 32K units short without
// saying so (Wine at 32,764): one this long is not trusted.
constexpr std::size_t kTrustedExpansion = 30000;

// The system's expansion; the text as it is when that fails.
std::wstring SystemExpansion(const std::wstring& text) {
  DWORD size = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  // A second try for a variable that grew in between.
  for (int attempt = 0; size > 0 && attempt < 2; ++attempt) {
    std::wstring expanded(size, L'\0');
    const DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), size);
    if (n > 0 && n <= size) {
      expanded.resize(n - 1);  // without its terminating zero
      return expanded;
    }
    size = n;
  }
  return text;
}

std::wstring Expansion(const std::wstring& text) {
  if (text.find(L'%') == std::wstring::npos) return text;
  std::wstring whole = SystemExpansion(text);
  if (whole.size() < kTrustedExpansion) return whole;
  // Longer: in two parts, cut nearest the middle where no %NAME% is open.
  // The system takes each such pair as one, known or not, so the parts
  // expand as the whole would. A last % without its pair opens nothing.
  const std::size_t middle = text.size() / 2;
  const std::size_t last = text.rfind(L'%');
  const bool unpaired = std::count(text.begin(), text.end(), L'%') % 2 != 0;
  std::size_t cut = 0;
  bool open = false;
  for (std::size_t i = 0; i < text.size(); open ^= text[i] == L'%', ++i) {
    const auto distance = [middle](std::size_t at) { return at > middle ? at - middle : middle - at; };
    if ((!open || (unpaired && i > last)) && i > 0 && (cut == 0 || distance(i) < distance(cut))) cut = i;
  }
  if (cut == 0) return whole;  // a single %NAME%: no shorter part to take
  return Expansion(text.substr(0, cut)) + Expansion(text.substr(cut));
}

}  // namespace

std::string Win32Platform::ExpandEnvironment(const std::string& text) { return WideToUtf8(Expansion(Utf8ToWide(text))); }

void Win32Platform::Announce(Change change, const std::string& folder) {
  // Nothing to answer: the error of the call before stays to be reported.
  const DWORD error = ::GetLastError();
  switch (change) {
    // Both start the shell's delivery and return at once: a hung shell
    // cannot hold the run.
    case Change::Associations:
      ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, nullptr, nullptr);
      break;
    case Change::Folder:
      // By the name the shell knows, never through Sysnative.
      if (!folder.empty())
        ::SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, Utf8ToWide(folder).c_str(), nullptr);
      break;
    case Change::Environment: {
      // A hung window is skipped at once; any other gets five seconds. The
      // time is each window's, so a few slow ones add up, but none can
      // stop the run.
      DWORD_PTR result = 0;
      ::SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                            SMTO_ABORTIFHUNG | SMTO_NORMAL, 5000, &result);
      break;
    }
  }
  ::SetLastError(error);
}

std::string Win32Platform::FromCodePage(unsigned codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), n);
  return WideToUtf8(wide);
}

void Win32Platform::Pause(unsigned milliseconds) { ::Sleep(milliseconds); }

std::uint32_t Win32Platform::Ticks() { return ::GetTickCount(); }

Platform::Error Win32Platform::LastError() {
  Error e;
  e.code = ::GetLastError();
  wchar_t* text = nullptr;
  if (::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, e.code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr) && text) {
    e.message = WideToUtf8(text);
    ::LocalFree(text);
    while (!e.message.empty() && static_cast<unsigned char>(e.message.back()) <= ' ') e.message.pop_back();
  }
  if (e.code == ERROR_SHARING_VIOLATION && !heldBy_.empty()) e.message += " Held by " + heldBy_ + ".";
  return e;
}

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

std::string ProgramFileName() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) {
      buf.resize(n);
      // Started by a short name (C:\PROGRA~2\...), it is still the program
      // its registration names by the long one.
      if (buf.find(L'~') != std::wstring::npos) {
        std::wstring longer(::GetLongPathNameW(buf.c_str(), nullptr, 0), L'\0');
        if (!longer.empty()) {
          longer.resize(::GetLongPathNameW(buf.c_str(), longer.data(), static_cast<DWORD>(longer.size())));
          if (!longer.empty()) buf = longer;
        }
      }
      return WideToUtf8(buf);
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace qv
