#include "engine/win32/win32_files.h"

#include <windows.h>
#include <ntsecapi.h>

#include <tuple>

#include "engine/entries.h"
#include "engine/text.h"
#include "engine/win32/access.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/hex.h"
#include "framework/text_conv.h"
#include "package/memory_bytes.h"
#include "package/win32/file_bytes.h"

namespace qv {

static_assert(kAttrReadOnly == FILE_ATTRIBUTE_READONLY && kAttrHidden == FILE_ATTRIBUTE_HIDDEN &&
              kAttrSystem == FILE_ATTRIBUTE_SYSTEM && kAttrDirectory == FILE_ATTRIBUTE_DIRECTORY &&
              kAttrArchive == FILE_ATTRIBUTE_ARCHIVE && kAttrTemporary == FILE_ATTRIBUTE_TEMPORARY &&
              kAttrReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT &&
              kAttrNotContentIndexed == FILE_ATTRIBUTE_NOT_CONTENT_INDEXED && kNoAttributes == INVALID_FILE_ATTRIBUTES);

namespace {

std::uint64_t Ticks64(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FindEntry EntryOf(const WIN32_FIND_DATAW& d) {
  return {WideToUtf8(d.cFileName), d.dwFileAttributes,
          (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow, Ticks64(d.ftLastWriteTime)};
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

// Removes what a failed copy may have left, keeping the error to report.
bool FailAndRemove(const std::wstring& partial) {
  const KeepLastError kept;
  ::SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(partial.c_str());
  return false;
}

}  // namespace

std::uint32_t Win32Files::Attributes(const Path& path) {
  const std::optional<std::wstring> wide = view_.Of(path);
  return wide ? ::GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool Win32Files::MakeFolder(const Path& path) {
  const std::optional<std::wstring> wide = view_.Of(path);
  return wide && ::CreateDirectoryW(wide->c_str(), nullptr) != 0;
}

std::unique_ptr<FindHandle> Win32Files::FindFirst(const Path& pattern, FindEntry& first) {
  const std::optional<std::wstring> wide = view_.Of(pattern);
  if (!wide) return nullptr;
  WIN32_FIND_DATAW d;
  HANDLE h = ::FindFirstFileW(wide->c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  first = EntryOf(d);
  return std::make_unique<Win32Find>(h);
}

bool Win32Files::CopyOneFile(const Path& from, const Path& to) {
  // A copy that fails halfway (disk full, read error) must not leave half a
  // file. A new file is removed again; an existing one is replaced only by a
  // complete copy made beside it and put in place in one step, so the old
  // file stays as it was. Attributes and times come from the system's copy
  // either way.
  inUse_.Clear();
  inUse_.Forget(to);
  const std::optional<std::wstring> source = view_.Of(from);
  const std::optional<std::wstring> target = source ? view_.Of(to) : std::nullopt;
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

bool Win32Files::Replace(const Path& to, const std::wstring& target,
                         const std::function<bool(const std::wstring&)>& write) {
  // A short name beside the target: the target's own name may already be as
  // long as a name can be. One counter for every file this run writes.
  static unsigned serial = 0;
  const std::string stem = FolderPart(to) + "~qv" + std::to_string(::GetCurrentProcessId()) + "_";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(serial++);
    const std::optional<std::wstring> temp = view_.Of(name + ".tmp");
    if (!temp) return false;
    if (!write(*temp)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;  // somebody else's name
      return false;
    }
    if (::MoveFileExW(temp->c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (!inUse_.NoteIfHeld(target, view_.SystemName(target))) return FailAndRemove(*temp);
    // Only an administrator may have the system put it in place at the
    // next restart. Until then the new file waits under a name that says so.
    // The restart knows no 32-bit layer: it takes the system's names.
    const std::optional<std::wstring> waiting = view_.Of(name + kWaitingSuffix);
    const bool moved = waiting && rights_.Elevated() && ::MoveFileExW(temp->c_str(), waiting->c_str(), 0);
    if (!moved || !::MoveFileExW(view_.SystemName(*waiting).c_str(), view_.SystemName(target).c_str(),
                                 MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
      ::SetLastError(ERROR_SHARING_VIOLATION);
      return FailAndRemove(moved ? *waiting : *temp);
    }
    inUse_.Waits(to, name + kWaitingSuffix);
    return true;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return false;
}

std::optional<std::string> Win32Files::WaitingBeside(const Path& path) { return inUse_.WaitingFor(path); }

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
  {
    const KeepLastError kept;
    file.Reset();  // an open file cannot be removed
  }
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

}  // namespace

bool Win32Files::WriteNew(const std::wstring& path, std::uint32_t attributes, std::uint64_t modified,
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

bool Win32Files::WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                                  const FileProducer& produce) {
  // The same rules as CopyOneFile: a new file is written in place and
  // removed again on failure; an existing one is replaced only by a complete
  // file written beside it. Creating the file refuses an existing one, so
  // there is no look beforehand.
  inUse_.Clear();
  inUse_.Forget(to);
  const std::optional<std::wstring> target = view_.Of(to);
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
void Win32Files::Hand(FilePool::Work work, std::function<bool()> again, FileDone done, std::size_t bytes) {
  if (!pool_) pool_ = std::make_unique<FilePool>();
  const auto finish = [again, done](DWORD result) { done(result == 0 || again()); };
  if (pool_->Add(std::move(work), finish, bytes)) return;
  Settle();
  done(again());
}

void Win32Files::Settle() {
  if (pool_) pool_->Reap(true);
}

void Win32Files::StartCopy(const Path& from, const Path& to, FileDone done) {
  const std::optional<std::wstring> source = view_.Of(from);
  const std::optional<std::wstring> target = source ? view_.Of(to) : std::nullopt;
  if (!target) {
    Settle();
    done(CopyOneFile(from, to));
    return;
  }
  inUse_.Forget(to);
  Hand(
      [source = *source, target = *target]() -> DWORD {
        if (::CopyFileW(source.c_str(), target.c_str(), TRUE)) return 0;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) FailAndRemove(target);
        return error;
      },
      [this, from, to] { return CopyOneFile(from, to); }, std::move(done), 0);
}

void Win32Files::StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                               std::uint64_t size, const FileProducer& produce, FileDone done) {
  const std::optional<std::wstring> target = size <= kLargestBuffered ? view_.Of(to) : std::nullopt;
  if (!target) {
    Settle();
    done(WriteFileFrom(to, attributes, modified, produce));
    return;
  }
  pack::MemorySink sink;
  sink.bytes.reserve(static_cast<std::size_t>(size));
  // Content that cannot be had fails the plain way: the same error, the
  // same file left, whatever was there.
  const bool had = produce(sink);
  const auto content = std::make_shared<std::string>(std::move(sink.bytes));
  const auto replay = [content, had](pack::ByteSink& out) { return had && out.Write(content->data(), content->size()); };
  if (!had) {
    Settle();
    done(WriteFileFrom(to, attributes, modified, replay));
    return;
  }
  inUse_.Forget(to);
  Hand([target = *target, attributes, modified, content] { return WriteBuffered(target, attributes, modified, *content); },
       [this, to, attributes, modified, replay] { return WriteFileFrom(to, attributes, modified, replay); },
       std::move(done), content->size());
}

void Win32Files::StartDelete(const Path& path, FileDone done) {
  const std::optional<std::wstring> wide = view_.Of(path);
  if (!wide) {
    Settle();
    done(DeleteOneFile(path));
    return;
  }
  // Whether its folder is held is known here; the caller keeps the hold
  // until it has settled.
  const bool byName = !held_.empty() && held_.count(FileNameKey(FolderPart(path)));
  Hand(
      [wide = *wide, named = view_.SystemName(*wide), byName]() -> DWORD {
        return (byName ? DeleteByName(wide) : DeleteOpened(wide, named)) ? 0 : ::GetLastError();
      },
      [this, path] { return DeleteOneFile(path); }, std::move(done), 0);
}

void Win32Files::StartRemoveFolder(const Path& path, FileDone done) {
  const std::optional<std::wstring> wide = view_.Of(path);
  if (!wide) {
    Settle();
    done(RemoveFolder(path));
    return;
  }
  Hand(
      [wide = *wide, named = view_.SystemName(*wide)]() -> DWORD {
        return RemoveUnlinkedFolder(wide, named) ? 0 : ::GetLastError();
      },
      [this, path] { return RemoveFolder(path); }, std::move(done), 0);
}

std::optional<std::string> Win32Files::MakePrivateFolder(const std::string& prefix) {
  const UniqueLocal descriptor = access::Descriptor(access::PrivateDacl());
  if (!descriptor) return std::nullopt;
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
  const std::string temp = system_.TempPath();
  if (temp.empty()) return std::nullopt;
  for (int attempt = 0; attempt < 16; ++attempt) {
    // 128 random bits from the system's generator: nobody can guess the
    // name and make it first.
    unsigned char bits[16];
    if (!::RtlGenRandom(bits, sizeof bits)) return std::nullopt;
    std::string name = temp + prefix;
    for (unsigned char b : bits) AppendHex(name, b, true);
    // Never one that is there already: whoever made it may hold it.
    const std::optional<std::wstring> wide = view_.Of(name);
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

bool Win32Files::RemoveTree(const Path& folder) {
  const std::optional<std::wstring> wide = view_.Of(folder);
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
        !access::ReachedDirectly(top.Get(), view_.SystemName(root)) || !access::OnlyOurs(top.Get(), access::Grants::Anything)) {
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

std::optional<FileStamp> Win32Files::Stamp(const Path& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  const std::optional<std::wstring> wide = view_.Of(path);
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

std::unique_ptr<FolderHold> Win32Files::HoldFolder(const Path& folder) {
  const std::optional<std::wstring> checked = view_.Of(folder);
  if (!checked) return nullptr;
  const std::wstring& wide = *checked;
  UniqueFile h(::CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FILE_BASIC_INFO info{};
  if (!h || !::GetFileInformationByHandleEx(h.Get(), FileBasicInfo, &info, sizeof info) ||
      !(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !access::ReachedDirectly(h.Get(), view_.SystemName(wide)))
    return nullptr;
  std::string key = folder.Key();
  if (key.empty() || key.back() != '\\') key += '\\';
  return std::make_unique<Win32Hold>(held_, std::move(key), std::move(h));
}

bool Win32Files::DeleteByName(const std::wstring& wide) {
  if (::DeleteFileW(wide.c_str())) return true;
  const DWORD error = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (::DeleteFileW(wide.c_str())) return true;
  const KeepLastError kept;
  ::SetFileAttributesW(wide.c_str(), attributes);
  return false;
}

bool Win32Files::DeleteOneFile(const Path& path) {
  inUse_.Clear();
  if (DeleteUnlinked(path)) return true;
  if (const std::optional<std::wstring> wide = view_.Of(path)) inUse_.NoteIfHeld(*wide, view_.SystemName(*wide));
  return false;
}

bool Win32Files::DeleteUnlinked(const Path& path) {
  const std::optional<std::wstring> checked = view_.Of(path);
  if (!checked) return false;
  const std::wstring& wide = *checked;
  // Right in a held folder, the name is enough: a link there is removed
  // itself, never what it leads to.
  if (!held_.empty() && held_.count(FileNameKey(FolderPart(path)))) return DeleteByName(wide);
  return DeleteOpened(wide, view_.SystemName(wide));
}

bool Win32Files::DeleteOpened(const std::wstring& wide, const std::wstring& systemName) {
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
  const KeepLastError kept;
  if (readOnly) {
    basic.FileAttributes = attributes;
    ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic);
  }
  return false;
}

bool Win32Files::RemoveFolder(const Path& path) {
  const std::optional<std::wstring> checked = view_.Of(path);
  return checked && RemoveUnlinkedFolder(*checked, view_.SystemName(*checked));
}

bool Win32Files::RemoveUnlinkedFolder(const std::wstring& wide, const std::wstring& systemName) {
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

bool Win32Files::SameFolder(const Path& a, const Path& b) {
  const auto identity = [this](const std::string& path) -> std::optional<std::tuple<DWORD, DWORD, DWORD>> {
    const std::optional<std::wstring> wide = view_.Of(path);
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

bool Win32Files::MoveOneFile(const Path& from, const Path& to) {
  const std::optional<std::wstring> source = view_.Of(from);
  const std::optional<std::wstring> target = source ? view_.Of(to) : std::nullopt;
  // No copy: a running program can be renamed, not copied and deleted.
  return target && ::MoveFileExW(source->c_str(), target->c_str(), 0) != 0;
}

bool Win32Files::RemoveAtRestart(const Path& path) {
  // The restart knows no 32-bit layer: it takes the system's name.
  const std::optional<std::wstring> wide = view_.Of(path);
  return wide && ::MoveFileExW(view_.SystemName(*wide).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

std::unique_ptr<AppendFile> Win32Files::OpenAppend(const Path& path) {
  const std::optional<std::wstring> checked = view_.Of(path);
  if (!checked) return nullptr;
  const std::wstring& wide = *checked;
  const UniqueLocal descriptor = access::Descriptor(access::OwnDacl());
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
  UniqueFile file(::CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, descriptor ? &security : nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return nullptr;
  if (!access::ReachedDirectly(file.Get(), view_.SystemName(wide))) {
    ::SetLastError(kErrorReachedThroughLink);
    return nullptr;
  }
  return std::make_unique<Win32Append>(file.Release());
}

std::optional<std::string> Win32Files::ReadWholeFile(const Path& path) {
  const std::optional<std::wstring> wide = view_.Of(path);
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

std::unique_ptr<pack::ByteSource> Win32Files::OpenRead(const Path& path) {
  const std::optional<std::wstring> wide = view_.Of(path);
  if (!wide) return nullptr;
  return pack::FileBytes(UniqueFile(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
}

}  // namespace qv
