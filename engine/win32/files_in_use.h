// Files a running program holds: which programs hold one, and the new
// files that wait beside theirs for the next restart to take their place.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/path.h"
#include "engine/system.h"

namespace qv {

// Where a new file waits for the next restart to take its place.
inline constexpr char kWaitingSuffix[] = ".replaces-at-restart";

// The programs that hold a file, as the system's Restart Manager names them
// (none where it cannot tell).
std::string HoldersOf(const std::wstring& path);

// One Restart Manager session for the run: the files it must replace are
// registered, the programs holding them listed, closed and started again.
class RestartSession {
 public:
  RestartSession() = default;
  RestartSession(const RestartSession&) = delete;
  RestartSession& operator=(const RestartSession&) = delete;
  ~RestartSession();
  std::vector<RunningProgram> Holding(const std::vector<std::string>& files);
  bool Close();
  void Restart();

 private:
  bool Open();
  std::uint32_t session_ = 0;
  bool open_ = false, closed_ = false;
};

class FilesInUse {
 public:
  // After a file call that failed: when a running program holds the file
  // (its path, and the system's name for it), the failure becomes
  // ERROR_SHARING_VIOLATION and the holders are noted for LastError.
  bool NoteIfHeld(const std::wstring& path, const std::wstring& systemName);
  // A new file call starts: nobody is noted for it yet.
  void Clear() { heldBy_.clear(); }
  // The programs holding the file the last file call failed on.
  const std::string& HeldBy() const { return heldBy_; }

  // The new file that waits for the restart to replace `file`.
  void Waits(const Path& file, std::string waiting) { waiting_[file.Key()] = std::move(waiting); }
  // A file written again: nothing of it waits any longer.
  void Forget(const Path& file) {
    if (!waiting_.empty()) waiting_.erase(file.Key());
  }
  std::optional<std::string> WaitingFor(const Path& file) const;

 private:
  std::string heldBy_;
  std::map<std::string, std::string> waiting_;  // file's key -> its new file
};

}  // namespace qv
