// Wraps the platform so that every action that changes the machine is
// written to the run's log and every failure is counted.
#pragma once

#include <set>
#include <string>

#include "engine/platform_decorator.h"
#include "engine/run_report.h"
#include "engine/setup_window.h"

namespace qv {

class LoggingPlatform : public PlatformDecorator {
 public:
  // log may be null: failures are counted all the same.
  LoggingPlatform(Platform& inner, RunLog* log, RunReport& report)
      : PlatformDecorator(inner), log_(log), report_(report) {}

  RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name, RegType type,
                              const std::vector<std::uint8_t>& data) override;
  bool MakeFolder(const std::string& path) override;
  std::unique_ptr<FindHandle> FindFirst(const std::string& pattern, FindEntry& first) override;
  bool CopyOneFile(const std::string& from, const std::string& to) override;
  void StartCopy(const std::string& from, const std::string& to, FileDone done) override;
  // Removing is not logged here: passed on as it is.
  void StartDelete(const std::string& path, FileDone done) override { Inner().StartDelete(path, std::move(done)); }
  void StartRemoveFolder(const std::string& path, FileDone done) override {
    Inner().StartRemoveFolder(path, std::move(done));
  }
  bool WriteFileFrom(const std::string& to, std::uint32_t attributes, std::uint64_t modified,
                     const FileProducer& produce) override;
  std::optional<std::string> MakePrivateFolder(const std::string& prefix) override;
  bool RemoveTree(const std::string& folder) override;
  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) override;
  bool MakeShortcut(const Shortcut& shortcut) override;

  void Write(const std::string& line) {
    if (log_) log_->Line(line);
  }

 private:
  std::string Failure();
  // A file written that waits for the next restart to take its place.
  void NoteWaiting(const std::string& to);

  RunLog* log_;
  RunReport& report_;
  // Each folder is searched once to count and once to copy; a search that
  // fails is one failure.
  std::set<std::string> failedSearches_;
};

}  // namespace qv
