#include "engine/packaged_platform.h"

#include <algorithm>

#include "package/memory_bytes.h"

#include "engine/entries.h"
#include "engine/folders.h"
#include "engine/text.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/utf8.h"
#include "framework/portable/wildcard.h"

namespace qv {

namespace {

// A full path as the machine reads it: "a\\.\\b", "a\\x\\..\\b" and "a/b" are
// "a\\b", also where ".." steps above a folder and back into it. A folder
// keeps its last backslash.
std::string Spelled(const std::string& path) {
  std::size_t root = IsDrivePath(path) ? 2 : 0;
  if (root == 0 && path.rfind("\\\\", 0) == 0) {
    // A share's server and name stay as they are.
    const std::size_t server = path.find('\\', 2);
    root = server == std::string::npos ? path.size() : path.find('\\', server + 1);
    if (root == std::string::npos) root = path.size();
  }
  if (root == 0) return path;
  std::vector<std::string> parts;
  std::string part;
  for (const char c : path.substr(root) + "\\") {
    if (c != '\\' && c != '/') {
      part += c;
      continue;
    }
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  }
  std::string out = path.substr(0, root);
  for (const std::string& p : parts) out += "\\" + p;
  const char last = path.back();
  if (last == '\\' || last == '/' || parts.empty()) out += '\\';
  return out;
}


std::string LastPart(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

// The folder part of a package path without its backslash ("" at the top).
std::string ParentOf(const std::string& path) {
  const std::size_t at = path.rfind('\\');
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

// As much as a script may be (the machine's reader refuses more).
constexpr std::uint64_t kLargestScript = 64u << 20;

// A file's bytes into a sink, a piece at a time.
bool CopyBytes(FileSystem& files, const std::string& path, pack::ByteSink& out) {
  const std::unique_ptr<pack::ByteSource> in = files.OpenRead(path);
  if (!in) return false;
  std::vector<char> piece(1 << 20);
  for (std::uint64_t at = 0; at < in->Size();) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), in->Size() - at));
    if (!in->ReadAt(at, piece.data(), n) || !out.Write(piece.data(), n)) return false;
    at += n;
  }
  return true;
}

}  // namespace

PackagedPlatform::PackagedPlatform(Platform& inner, pack::Reader& package, std::string programFolder)
    : Platform{files_, registry_, shell_, rights_, system_}, inner_(inner), package_(package), programFolder_(std::move(programFolder)) {
  std::set<std::string> listed;
  for (const pack::Entry& e : package_.Entries()) listed.insert(FileNameKey(e.path));
  std::set<std::string> implied;
  children_[""];
  for (const pack::Entry& e : package_.Entries()) {
    // Parents a writer left out are folders all the same.
    for (std::size_t at = e.path.find('\\'); at != std::string::npos; at = e.path.find('\\', at + 1)) {
      const std::string folder = e.path.substr(0, at);
      const std::string key = FileNameKey(folder);
      if (listed.count(key) || !implied.insert(key).second) continue;
      children_[FileNameKey(ParentOf(folder))].push_back({LastPart(folder), kAttrDirectory});
      children_[key];
    }
    children_[FileNameKey(ParentOf(e.path))].push_back({LastPart(e.path), e.attributes});
    if (e.IsFolder()) children_[FileNameKey(e.path)];
  }
}

PackagedPlatform::~PackagedPlatform() { Finish(); }

void PackagedPlatform::SetOwnScript(const std::string& path) { ownScript_ = FileNameKey(path); }

std::optional<std::string> PackagedPlatform::Relative(const std::string& path) const {
  // The folder's name as the machine compares it, unit by unit: a folder
  // "Été\\" is the same as "ÉTÉ\\" but may not take as many bytes.
  const std::u16string units = Utf8ToUtf16(Spelled(path)), folder = FileNameUpper(Utf8ToUtf16(programFolder_));
  if (units.size() < folder.size() || FileNameUpper(std::u16string_view(units).substr(0, folder.size())) != folder)
    return std::nullopt;
  std::string rest = Utf16ToUtf8(std::u16string_view(units).substr(folder.size()));
  if (!rest.empty() && rest.back() == '\\') rest.pop_back();
  return rest;
}

const pack::Entry* PackagedPlatform::EntryAt(const std::string& path) const {
  if (!ownScript_.empty() && FileNameKey(path) == ownScript_) return package_.Find(package_.Script());
  const std::optional<std::string> rel = Relative(path);
  return rel && !rel->empty() ? package_.Find(*rel) : nullptr;
}

bool PackagedPlatform::IsPackageFolder(const std::string& relative) const {
  return children_.count(FileNameKey(relative)) != 0;
}

std::string PackagedPlatform::ShownName(const Path& path) {
  if (const pack::Entry* e = EntryAt(path)) return e->path + " (in the package)";
  const std::optional<std::string> rel = Relative(path);
  if (rel && !rel->empty() && IsPackageFolder(*rel)) return *rel + "\\ (in the package)";
  return Machine().files.ShownName(path);
}

std::uint32_t PackagedPlatform::Attributes(const Path& path) {
  if (const pack::Entry* e = EntryAt(path)) return e->attributes;
  const std::optional<std::string> rel = Relative(path);
  if (rel && !rel->empty() && IsPackageFolder(*rel)) return kAttrDirectory;
  return Machine().files.Attributes(path);
}

std::unique_ptr<FindHandle> PackagedPlatform::FindFirst(const Path& pattern, FindEntry& first) {
  const std::string folder = FolderPart(pattern);
  const std::string mask = pattern.Text().substr(folder.size());
  const std::optional<std::string> rel = Relative(folder);
  if (!rel || !IsPackageFolder(*rel) || mask.empty()) return Machine().files.FindFirst(pattern, first);
  std::vector<FindEntry> found;
  if (mask.find_first_of("*?") == std::string::npos) {
    // One name: the packed file if there is one, else whatever is on disk
    // beside the program.
    const std::optional<std::string> named = Relative(pattern);
    if (const pack::Entry* e = EntryAt(pattern))
      found.push_back({LastPart(e->path), e->attributes});
    else if (named && !named->empty() && IsPackageFolder(*named))
      found.push_back({LastPart(*named), kAttrDirectory});  // a folder only its files imply
    else
      return Machine().files.FindFirst(pattern, first);
  } else {
    // A drive's top folder has no "." and "..", any other folder has.
    const bool driveTop = rel->empty() && programFolder_.size() <= 3;
    if (!driveTop) {
      if (MatchesWildcard(".", mask)) found.push_back({".", kAttrDirectory});
      if (MatchesWildcard("..", mask)) found.push_back({"..", kAttrDirectory});
    }
    for (const FindEntry& c : children_.at(FileNameKey(*rel)))
      if (MatchesWildcard(c.name, mask)) found.push_back(c);
  }
  if (found.empty()) {
    Fail(kErrorFileNotFound, "The system cannot find the file specified.");
    return nullptr;
  }
  ownError_.reset();
  first = found.front();
  found.erase(found.begin());
  return std::make_unique<ListedFind>(std::move(found));
}

FromBase PackagedPlatform::BaseOf(const std::string& from) {
  const pack::Entry* e = EntryAt(from);
  if (!e) return FromBase::No;
  switch (e->source) {
    case pack::Source::kKept: return FromBase::Kept;
    case pack::Source::kPatched: return FromBase::Patched;
    case pack::Source::kPacked: break;
  }
  return FromBase::No;
}

BaseCheck PackagedPlatform::TakeBase(const std::string& from, const std::string& installed) {
  const pack::Entry* e = EntryAt(from);
  if (!e || e->source == pack::Source::kPacked) return BaseCheck::Ok;
  const std::unique_ptr<pack::ByteSource> base = inner_.files.OpenRead(installed);
  if (!base) {
    Log("update: no file it was made against: " + installed);
    return BaseCheck::NotTheBase;
  }
  if (e->source == pack::Source::kKept) {
    if (pack::MatchesBase(*e, *base)) return BaseCheck::Ok;
    Log("update: not the file it was made against (changed since it was installed): " + installed);
    return BaseCheck::NotTheBase;
  }
  if (!MadePrivateFolder()) return BaseCheck::Failed;
  const std::string folder = *private_ + "update\\";
  if (!FolderExists(inner_, folder) && !CreateFolderPath(inner_, folder)) return BaseCheck::Failed;
  const std::string made = folder + std::to_string(patched_.size());
  pack::PatchStatus status = pack::PatchStatus::Failed;
  const bool written = inner_.files.WriteFileFrom(made, kAttrArchive, e->modified, [&](pack::ByteSink& out) {
    status = package_.ExtractPatched(*e, *base, out);
    return status == pack::PatchStatus::Ok;
  });
  if (status == pack::PatchStatus::WrongBase) {
    Log("update: not the file it was made against (changed since it was installed): " + installed);
    return BaseCheck::NotTheBase;
  }
  if (!written) {
    FailIfDamaged();
    return BaseCheck::Failed;
  }
  patched_[e] = made;
  return BaseCheck::Ok;
}

bool PackagedPlatform::CopyOneFile(const Path& from, const Path& to) {
  const pack::Entry* e = EntryAt(from);
  if (!e || e->IsFolder()) return Machine().files.CopyOneFile(from, to);
  if (e->source != pack::Source::kPacked) {
    // Made from the installed file beforehand: written as the package has it.
    const auto made = patched_.find(e);
    if (made == patched_.end()) return Fail(kErrorFileNotFound, "An update's file was not made from its base.");
    const std::string path = made->second;
    return Machine().files.WriteFileFrom(to, e->attributes, e->modified, [this, path](pack::ByteSink& out) {
      return CopyBytes(inner_.files, path, out);
    });
  }
  // Straight from the package into the destination; a damaged file is
  // refused by the reader and the machine keeps nothing of it.
  return Machine().files.WriteFileFrom(to, e->attributes, e->modified, [this, e](pack::ByteSink& out) {
    return package_.Extract(*e, out);
  }) || FailIfDamaged();
}

bool PackagedPlatform::FailIfDamaged() {
  if (package_.Damaged()) Fail(kErrorPackageDamaged, "The setup file is damaged: a packed file is not what its index says.");
  return false;
}

void PackagedPlatform::StartCopy(const Path& from, const Path& to, FileDone done) {
  // The machine's error is the one to tell when it ends.
  FileDone machines = [this, done = std::move(done)](bool ok) {
    ownError_.reset();
    done(ok || FailIfDamaged());
  };
  const pack::Entry* e = EntryAt(from);
  if (!e || e->IsFolder()) return Machine().files.StartCopy(from, to, std::move(machines));
  if (e->source != pack::Source::kPacked) return machines(CopyOneFile(from, to));
  // The package is read here, in its order; only the writing goes elsewhere.
  Machine().files.StartWrite(
      to, e->attributes, e->modified, e->size, [this, e](pack::ByteSink& out) { return package_.Extract(*e, out); },
      std::move(machines));
}

std::optional<std::string> PackagedPlatform::ReadWholeFile(const Path& path) {
  const pack::Entry* e = EntryAt(path);
  if (!e) return Machine().files.ReadWholeFile(path);
  // The engine reads its script again for every value, and the face and
  // the script take turns; a package does not change under them, so each
  // is unpacked once.
  auto known = read_.find(e);
  if (known == read_.end()) {
    pack::MemorySink sink;
    if (e->IsFolder() || e->size > kLargestScript || !package_.Extract(*e, sink)) {
      Fail(kErrorDamagedData, "Data error (cyclic redundancy check).");
      return std::nullopt;
    }
    known = read_.emplace(e, std::move(sink.bytes)).first;
  }
  ownError_.reset();
  return known->second;
}

bool PackagedPlatform::UnpackScript(const std::string& path) {
  const pack::Entry* e = EntryAt(path);
  return !e || e->IsFolder() || e->size > kLargestScript || ReadWholeFile(path).has_value();
}

const pack::Entry* PackagedPlatform::ProgramEntry(const std::string& program) {
  std::string path;
  if (IsBareProgramName(program)) {
    // As the machine looks: a system program of that name comes first.
    const bool bare = program.find('.') == std::string::npos;
    for (const std::string& folder : {inner_.system.SystemFolder(), inner_.system.WindowsFolder()}) {
      if (folder.empty()) continue;
      if (inner_.files.Attributes(folder + "\\" + program) != kNoAttributes ||
          (bare && inner_.files.Attributes(folder + "\\" + program + ".exe") != kNoAttributes))
        return nullptr;
    }
    path = programFolder_ + program;
  } else if (IsDrivePath(program)) {
    path = program;
  } else if (program[0] == '\\' || program[0] == '/') {
    return nullptr;  // another drive's or machine's
  } else {
    // A folder in the package is taken from the program's folder, as an
    // INSTALL source is.
    path = programFolder_ + program;
  }
  const pack::Entry* e = EntryAt(path);
  if (!e && LastPart(path).find('.') == std::string::npos) e = EntryAt(path + ".exe");
  return e && !e->IsFolder() ? e : nullptr;
}

std::optional<std::string> PackagedPlatform::MadePrivateFolder() {
  if (!private_) {
    private_ = inner_.files.MakePrivateFolder(kPrivateFolderPrefix);
    if (!private_) {
      Log("private folder not created: " + inner_.system.LastError().message);
      return std::nullopt;
    }
    Log("private folder: " + *private_);
  }
  return private_;
}

std::optional<std::string> PackagedPlatform::WriteOut(const pack::Entry& program) {
  if (!MadePrivateFolder()) return std::nullopt;
  const std::string folder = FolderPart(program.path);  // "" or "redist\"
  const std::string key = FileNameKey(folder);
  if (writtenOut_.insert(key).second) {
    // The program's folder with everything under it; at the top only the
    // files beside the program, not the trees the script installs.
    bool ok = true;
    int writtenFiles = 0;
    for (const pack::Entry& e : package_.Entries()) {
      if (FileNameKey(e.path).compare(0, key.size(), key) != 0) continue;
      if (key.empty() && e.path.find('\\') != std::string::npos) continue;
      const std::string target = *private_ + e.path;
      if (e.IsFolder()) {
        ok = CreateFolderPath(inner_, target) && ok;
        continue;
      }
      const std::string parent = FolderPart(target);
      if (!FolderExists(inner_, parent)) ok = CreateFolderPath(inner_, parent) && ok;
      const bool written = inner_.files.WriteFileFrom(target, e.attributes, e.modified, [this, &e](pack::ByteSink& out) {
        return package_.Extract(e, out);
      });
      if (!written) Log("not written out: " + e.path + " (error " + std::to_string(inner_.system.LastError().code) + ")");
      ok = written && ok;
      writtenFiles += written;
    }
    Log("written out for a command: " + std::to_string(writtenFiles) + " files of " + (folder.empty() ? "\\" : folder) +
        (ok ? "" : ", not all"));
    if (!ok) writtenOut_.erase(key);
    if (package_.Damaged()) return std::nullopt;
  }
  return *private_ + program.path;
}

bool PackagedPlatform::StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  const ProgramToken t = SplitProgram(commandLine);
  const pack::Entry* e = t.program.empty() ? nullptr : ProgramEntry(t.program);
  if (!e) return Machine().shell.StartProgram(commandLine, showCode, workingFolder);
  const std::optional<std::string> path = WriteOut(*e);
  if (!path && package_.Damaged()) return FailIfDamaged();
  if (!path) return Fail(inner_.system.LastError().code, inner_.system.LastError().message);
  // Its own folder as working folder, not the setup's: a DLL dropped beside
  // a downloaded setup would be found there before the system's.
  return Machine().shell.StartProgram("\"" + *path + "\"" + t.rest, showCode, FolderPart(*path));
}

std::unique_ptr<StartedProgram> PackagedPlatform::Launch(const std::string& commandLine, int showCode,
                                                         const std::string& workingFolder, StartAs as) {
  const ProgramToken t = SplitProgram(commandLine);
  const pack::Entry* e = t.program.empty() ? nullptr : ProgramEntry(t.program);
  if (!e) return Machine().shell.Launch(commandLine, showCode, workingFolder, as);
  const std::optional<std::string> path = WriteOut(*e);
  if (!path && package_.Damaged()) {
    FailIfDamaged();
    return nullptr;
  }
  if (!path) {
    Fail(inner_.system.LastError().code, inner_.system.LastError().message);
    return nullptr;
  }
  return Machine().shell.Launch("\"" + *path + "\"" + t.rest, showCode, FolderPart(*path), as);
}

void PackagedPlatform::RemoveLeftovers() { RemoveLeftoverFolders(Machine(), log_); }

void PackagedPlatform::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!private_) return;
  // A helper usually ends within moments of being started; one that runs
  // on keeps the folder it runs from.
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (inner_.files.RemoveTree(*private_)) {
      Log("private folder removed: " + *private_);
      return;
    }
    inner_.system.Pause(100);
  }
  Log("private folder kept (in use): " + *private_);
}

std::uint32_t PackagedFiles::Attributes(const Path& path) { return package_.Attributes(path); }
std::unique_ptr<FindHandle> PackagedFiles::FindFirst(const Path& pattern, FindEntry& first) {
  return package_.FindFirst(pattern, first);
}
bool PackagedFiles::CopyOneFile(const Path& from, const Path& to) { return package_.CopyOneFile(from, to); }
void PackagedFiles::StartCopy(const Path& from, const Path& to, FileDone done) {
  package_.StartCopy(from, to, std::move(done));
}
std::optional<std::string> PackagedFiles::ReadWholeFile(const Path& path) { return package_.ReadWholeFile(path); }
std::string PackagedFiles::ShownName(const Path& path) { return package_.ShownName(path); }
FileSystem& PackagedFiles::Inner() { return package_.Machine().files; }

bool PackagedShell::StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  return package_.StartProgram(commandLine, showCode, workingFolder);
}
std::unique_ptr<StartedProgram> PackagedShell::Launch(const std::string& commandLine, int showCode,
                                                      const std::string& workingFolder, StartAs as) {
  return package_.Launch(commandLine, showCode, workingFolder, as);
}
Shell& PackagedShell::Inner() { return package_.Machine().shell; }

System::Error PackagedSystem::LastError() {
  return package_.ownError_ ? *package_.ownError_ : inner_.LastError();
}
System& PackagedSystem::Inner() { return package_.Machine().system; }
Registry& PackagedRegistry::Inner() { return package_.Machine().registry; }
Rights& PackagedRights::Inner() { return package_.Machine().rights; }

}  // namespace qv
