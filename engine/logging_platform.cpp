#include "engine/logging_platform.h"

namespace qv {

static_assert(ChangesBothForms<LoggingFiles>());

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

std::string ActionLog::Failure() {
  const System::Error e = system_.LastError();
  ++report_.failures;
  return " (error " + std::to_string(e.code) + (e.message.empty() ? "" : ": " + e.message) + ")";
}

bool LoggingFiles::MakeFolder(const Path& path) {
  const bool ok = inner_.MakeFolder(path);
  log_.Write(ok ? "folder created: " + path.Text() : "folder not created: " + path.Text() + log_.Failure());
  return ok;
}

std::unique_ptr<FindHandle> LoggingFiles::FindFirst(const Path& pattern, FindEntry& first) {
  std::unique_ptr<FindHandle> found = inner_.FindFirst(pattern, first);
  if (found) return found;
  const std::uint32_t code = log_.Machine().LastError().code;
  // A search that could not look (a name too long, a folder that cannot be
  // read) is no empty folder: what it would have found is not installed.
  if (code != kErrorFileNotFound && code != kErrorPathNotFound && failedSearches_.insert(pattern).second)
    log_.Write("not searched: " + pattern.Text() + log_.Failure());
  return found;
}

void LoggingFiles::NoteWaiting(const Path& to) {
  if (const std::optional<std::string> waiting = inner_.WaitingBeside(to)) {
    log_.Report().restartNeeded = true;
    log_.Write("in use: " + to.Text() + ", replaced at the next restart by " + *waiting);
  }
}

void LoggingFiles::Copied(bool ok, const std::string& from, const Path& to) {
  log_.Write(ok ? "copied: " + from + " -> " + to.Text() : "not copied: " + from + " -> " + to.Text() + log_.Failure());
  if (ok) NoteWaiting(to);
}

void LoggingFiles::Written(bool ok, const Path& to) {
  log_.Write(ok ? "written: " + to.Text() : "not written: " + to.Text() + log_.Failure());
  if (ok) NoteWaiting(to);
}

bool LoggingFiles::CopyOneFile(const Path& from, const Path& to) {
  const bool ok = inner_.CopyOneFile(from, to);
  Copied(ok, inner_.ShownName(from), to);
  return ok;
}

void LoggingFiles::StartCopy(const Path& from, const Path& to, FileDone done) {
  // Logged as it ends: the lines come in the order the copies started.
  inner_.StartCopy(from, to, [this, from = inner_.ShownName(from), to, done = std::move(done)](bool ok) {
    Copied(ok, from, to);
    done(ok);
  });
}

bool LoggingFiles::WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                                 const FileProducer& produce) {
  const bool ok = inner_.WriteFileFrom(to, attributes, modified, produce);
  Written(ok, to);
  return ok;
}

void LoggingFiles::StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                              const FileProducer& produce, FileDone done) {
  inner_.StartWrite(to, attributes, modified, size, produce, [this, to, done = std::move(done)](bool ok) {
    Written(ok, to);
    done(ok);
  });
}

std::optional<std::string> LoggingFiles::MakePrivateFolder(const std::string& prefix) {
  std::optional<std::string> made = inner_.MakePrivateFolder(prefix);
  log_.Write(made ? "private folder created: " + *made : "private folder not created: " + prefix + log_.Failure());
  return made;
}

bool LoggingFiles::RemoveTree(const Path& folder) {
  // Tidying up is no entry of the script: a folder still in use is no failure.
  const bool ok = inner_.RemoveTree(folder);
  if (ok) log_.Write("removed: " + folder.Text());
  else if (log_.Machine().LastError().code == kErrorAccessDenied)
    log_.Write("not removed (not a private folder of ours): " + folder.Text());
  else log_.Write("not removed (in use): " + folder.Text());
  return ok;
}

RegWrite LoggingRegistry::WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                             RegType type, const std::vector<std::uint8_t>& data) {
  const std::string what = RootName(root) + "\\" + subkey + " value \"" + name + "\" " + TypeName(type);
  if (root == 0) {
    ++log_.Report().failures;
    log_.Write("registry value not written: unknown root; " + subkey + " value \"" + name + "\"");
    return RegWrite::KeyNotOpened;
  }
  const RegWrite r = inner_.WriteRegistryValue(root, subkey, name, type, data);
  switch (r) {
    case RegWrite::Written: log_.Write("registry value written: " + what); break;
    case RegWrite::KeyNotOpened: log_.Write("registry key not opened: " + what + log_.Failure()); break;
    case RegWrite::WriteFailed: log_.Write("registry value not written: " + what + log_.Failure()); break;
  }
  return r;
}

bool LoggingShell::StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  const bool ok = inner_.StartProgram(commandLine, showCode, workingFolder);
  const std::string what = commandLine + " (show " + std::to_string(showCode) + ")" +
                           (workingFolder.empty() ? "" : " in " + workingFolder);
  log_.Write(ok ? "started: " + what : "not started: " + what + log_.Failure());
  return ok;
}

std::unique_ptr<StartedProgram> LoggingShell::Launch(const std::string& commandLine, int showCode,
                                                     const std::string& workingFolder, StartAs as) {
  std::unique_ptr<StartedProgram> started = inner_.Launch(commandLine, showCode, workingFolder, as);
  const std::string what = commandLine + " (show " + std::to_string(showCode) + ")" +
                           (workingFolder.empty() ? "" : " in " + workingFolder) +
                           (as == StartAs::Person ? " as the person at the desktop" : "");
  if (started) log_.Write("started: " + what);
  // Nobody to start it for is no failure of the run: the command is skipped.
  else if (as == StartAs::Person && log_.Machine().LastError().code == kErrorNoPerson)
    log_.Write("skipped (no person at the desktop whose account runs without administrator rights): " + what);
  else log_.Write("not started: " + what + log_.Failure());
  return started;
}

bool LoggingShell::MakeShortcut(const Shortcut& shortcut) {
  const bool ok = inner_.MakeShortcut(shortcut);
  const std::string what = shortcut.file + " -> " + shortcut.target;
  log_.Write(ok ? "shortcut made: " + what : "shortcut not made: " + what + log_.Failure());
  return ok;
}

namespace {

const char* StartName(ServiceStart start) {
  switch (start) {
    case ServiceStart::Auto: return "auto";
    case ServiceStart::Disabled: return "disabled";
    default: return "demand";
  }
}

std::string ServiceText(const std::string& name, const ServiceConfig& c) {
  return name + " (" + c.command + ", " + StartName(c.start) + ", " +
         (c.account.empty() ? std::string("LocalSystem") : c.account) + ")";
}

}  // namespace

bool LoggingSystem::MakeService(const std::string& name, const ServiceConfig& config) {
  const bool ok = inner_.MakeService(name, config);
  log_.Write(ok ? "service installed: " + ServiceText(name, config)
                : "service not installed: " + ServiceText(name, config) + log_.Failure());
  return ok;
}

bool LoggingSystem::ChangeService(const std::string& name, const ServiceConfig& config) {
  const bool ok = inner_.ChangeService(name, config);
  log_.Write(ok ? "service configured: " + ServiceText(name, config)
                : "service not configured: " + ServiceText(name, config) + log_.Failure());
  return ok;
}

bool LoggingSystem::StartOneService(const std::string& name) {
  const bool ok = inner_.StartOneService(name);
  log_.Write(ok ? "service started: " + name : "service not started: " + name + log_.Failure());
  return ok;
}

}  // namespace qv
