// Wraps the machine so that every action that changes it is written to the
// run's log and every failure is counted: its files, registry, shell and
// the services it makes; its rights are handed on as they are.
#pragma once

#include <set>
#include <string>

#include "engine/platform_decorator.h"
#include "engine/run_report.h"
#include "engine/setup_window.h"

namespace qv {

// Where the logging parts write, and how a failure reads.
class ActionLog {
 public:
  ActionLog(RunLog* log, RunReport& report, System& system) : log_(log), report_(report), system_(system) {}
  void Write(const std::string& line) {
    if (log_) log_->Line(line);
  }
  // " (error N: message)" for the last call, counted as a failure.
  std::string Failure();
  RunReport& Report() { return report_; }
  System& Machine() { return system_; }

 private:
  RunLog* log_;
  RunReport& report_;
  System& system_;
};

class LoggingFiles : public FileSystemDecorator {
 public:
  LoggingFiles(FileSystem& inner, ActionLog& log) : FileSystemDecorator(inner), log_(log) {}

  bool MakeFolder(const Path& path) override;
  std::unique_ptr<FindHandle> FindFirst(const Path& pattern, FindEntry& first) override;
  bool CopyOneFile(const Path& from, const Path& to) override;
  void StartCopy(const Path& from, const Path& to, FileDone done) override;
  bool WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                     const FileProducer& produce) override;
  void StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                  const FileProducer& produce, FileDone done) override;
  std::optional<std::string> MakePrivateFolder(const std::string& prefix) override;
  bool RemoveTree(const Path& folder) override;

 private:
  // A file written that waits for the next restart to take its place.
  void NoteWaiting(const Path& to);
  void Copied(bool ok, const std::string& from, const Path& to);
  void Written(bool ok, const Path& to);

  ActionLog& log_;
  // Each folder is searched once to count and once to copy; a search that
  // fails is one failure.
  std::set<std::string> failedSearches_;
};

class LoggingRegistry : public RegistryDecorator {
 public:
  LoggingRegistry(Registry& inner, ActionLog& log) : RegistryDecorator(inner), log_(log) {}
  RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name, RegType type,
                              const std::vector<std::uint8_t>& data) override;

 private:
  ActionLog& log_;
};

class LoggingShell : public ShellDecorator {
 public:
  LoggingShell(Shell& inner, ActionLog& log) : ShellDecorator(inner), log_(log) {}
  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) override;
  std::unique_ptr<StartedProgram> Launch(const std::string& commandLine, int showCode, const std::string& workingFolder,
                                         StartAs as) override;
  bool MakeShortcut(const Shortcut& shortcut) override;

 private:
  ActionLog& log_;
};

// Services made, changed and started; stopping and deleting belong to an
// undo or an uninstall, which say themselves what they did.
class LoggingSystem : public SystemDecorator {
 public:
  LoggingSystem(System& inner, ActionLog& log) : SystemDecorator(inner), log_(log) {}
  bool MakeService(const std::string& name, const ServiceConfig& config) override;
  bool ChangeService(const std::string& name, const ServiceConfig& config) override;
  bool StartOneService(const std::string& name) override;

 private:
  ActionLog& log_;
};

class LoggingPlatform : public Platform {
 public:
  // log may be null: failures are counted all the same.
  LoggingPlatform(Platform& inner, RunLog* log, RunReport& report)
      : Platform{files_, registry_, shell_, inner.rights, system_},
        log_(log, report, inner.system),
        files_(inner.files, log_),
        registry_(inner.registry, log_),
        shell_(inner.shell, log_),
        system_(inner.system, log_) {}

  void Write(const std::string& line) { log_.Write(line); }

 private:
  ActionLog log_;
  LoggingFiles files_;
  LoggingRegistry registry_;
  LoggingShell shell_;
  LoggingSystem system_;
};

}  // namespace qv
