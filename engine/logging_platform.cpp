#include "engine/logging_platform.h"


namespace qv {

namespace {

const char* TypeName(RegType t) {
  switch (t) {
    case RegType::Binary: return "REG_BINARY";
    case RegType::Dword: return "REG_DWORD";
    case RegType::ExpandText: return "REG_EXPAND_SZ";
    default: return "REG_SZ";
  }
}

}  // namespace

std::string LoggingPlatform::Failure() {
  const Error e = inner_.LastError();
  ++report_.failures;
  return " (error " + std::to_string(e.code) + (e.message.empty() ? "" : ": " + e.message) + ")";
}

bool LoggingPlatform::MakeFolder(const std::string& path) {
  const bool ok = inner_.MakeFolder(path);
  Write(ok ? "folder created: " + path : "folder not created: " + path + Failure());
  return ok;
}

std::unique_ptr<FindHandle> LoggingPlatform::FindFirst(const std::string& pattern, FindEntry& first) {
  std::unique_ptr<FindHandle> found = inner_.FindFirst(pattern, first);
  if (found) return found;
  const std::uint32_t code = inner_.LastError().code;
  // A search that could not look (a name too long, a folder that cannot be
  // read) is no empty folder: what it would have found is not installed.
  if (code != kErrorFileNotFound && code != kErrorPathNotFound && failedSearches_.insert(pattern).second)
    Write("not searched: " + pattern + Failure());
  return found;
}

void LoggingPlatform::NoteWaiting(const std::string& to) {
  if (const std::optional<std::string> waiting = inner_.WaitingBeside(to)) {
    report_.restartNeeded = true;
    Write("in use: " + to + ", replaced at the next restart by " + *waiting);
  }
}

bool LoggingPlatform::CopyOneFile(const std::string& from, const std::string& to) {
  const bool ok = inner_.CopyOneFile(from, to);
  const std::string shown = inner_.ShownName(from);
  Write(ok ? "copied: " + shown + " -> " + to : "not copied: " + shown + " -> " + to + Failure());
  if (ok) NoteWaiting(to);
  return ok;
}

void LoggingPlatform::StartCopy(const std::string& from, const std::string& to, FileDone done) {
  // Logged as it ends: the lines come in the order the copies started.
  inner_.StartCopy(from, to, [this, from = inner_.ShownName(from), to, done = std::move(done)](bool ok) {
    Write(ok ? "copied: " + from + " -> " + to : "not copied: " + from + " -> " + to + Failure());
    if (ok) NoteWaiting(to);
    done(ok);
  });
}

bool LoggingPlatform::WriteFileFrom(const std::string& to, std::uint32_t attributes, std::uint64_t modified,
                                    const FileProducer& produce) {
  const bool ok = inner_.WriteFileFrom(to, attributes, modified, produce);
  Write(ok ? "written: " + to : "not written: " + to + Failure());
  if (ok) NoteWaiting(to);
  return ok;
}

bool LoggingPlatform::MakeShortcut(const Shortcut& shortcut) {
  const bool ok = inner_.MakeShortcut(shortcut);
  const std::string what = shortcut.file + " -> " + shortcut.target;
  Write(ok ? "shortcut made: " + what : "shortcut not made: " + what + Failure());
  return ok;
}

std::optional<std::string> LoggingPlatform::MakePrivateFolder(const std::string& prefix) {
  std::optional<std::string> made = inner_.MakePrivateFolder(prefix);
  Write(made ? "private folder created: " + *made : "private folder not created: " + prefix + Failure());
  return made;
}

bool LoggingPlatform::RemoveTree(const std::string& folder) {
  // Tidying up is no entry of the script: a folder still in use is no failure.
  const bool ok = inner_.RemoveTree(folder);
  if (ok) Write("removed: " + folder);
  else if (inner_.LastError().code == kErrorAccessDenied) Write("not removed (not a private folder of ours): " + folder);
  else Write("not removed (in use): " + folder);
  return ok;
}

RegWrite LoggingPlatform::WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                             RegType type, const std::vector<std::uint8_t>& data) {
  const std::string what = RootName(root) + "\\" + subkey + " value \"" + name + "\" " + TypeName(type);
  if (root == 0) {
    ++report_.failures;
    Write("registry value not written: unknown root; " + subkey + " value \"" + name + "\"");
    return RegWrite::KeyNotOpened;
  }
  const RegWrite r = inner_.WriteRegistryValue(root, subkey, name, type, data);
  switch (r) {
    case RegWrite::Written: Write("registry value written: " + what); break;
    case RegWrite::KeyNotOpened: Write("registry key not opened: " + what + Failure()); break;
    case RegWrite::WriteFailed: Write("registry value not written: " + what + Failure()); break;
  }
  return r;
}

bool LoggingPlatform::StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  const bool ok = inner_.StartProgram(commandLine, showCode, workingFolder);
  const std::string what = commandLine + " (show " + std::to_string(showCode) + ")" +
                           (workingFolder.empty() ? "" : " in " + workingFolder);
  Write(ok ? "started: " + what : "not started: " + what + Failure());
  return ok;
}

}  // namespace qv
