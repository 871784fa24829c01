// The uninstaller: reads the record beside it and takes away what the
// installations it names added, latest first, through the setup window.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/install_record.h"
#include "engine/record_seal.h"
#include "engine/platform.h"
#include "engine/run_report.h"
#include "engine/setup_window.h"

namespace qv {

// Makes an uninstaller's copy of itself the sweeper, on its command line:
// the switch, the uninstaller's file, the folders to remove where empty,
// and the number of a handle to the uninstaller's process. Never shown.
inline constexpr char kSweepSwitch[] = "/qvSweep";
// How long the sweeper waits for the uninstaller to end.
constexpr unsigned kSweepWaitMs = 60 * 60 * 1000;

// The sweeper's work once the uninstaller has ended: deletes its file and
// then the folders, each where empty, never through a link. What cannot go
// now is left to the next restart where the run may ask for that.
void SweepAfter(Platform& platform, const std::string& file, const std::vector<std::string>& folders);

class Uninstaller {
 public:
  // programFile: the uninstaller's own file, beside its record.
  Uninstaller(Platform& platform, SetupWindow& window, RunState& state, RunReport& report, std::string programFile);
  void SetLog(RunLog* log) { log_ = log; }

  enum class Loaded { Yes, Missing, Damaged, NotTrusted };
  // Reads the record beside the program: what it says the installation is
  // (for whom, its language), not yet trusted. Speaks that language from
  // here on.
  Loaded Read();
  // Trusts the record only as far as its registration vouches for it, and
  // plans the removal. A 64-bit program's installation is read and removed
  // in the 64-bit view.
  Loaded Load();
  // The installation's product: as its record says once read, as it is
  // once loaded.
  const Product& InstalledProduct() const { return plan_.product; }
  // Builds the window, asks (a shown run), removes and shows the end.
  void Run();
  // This elevated run was started again by a run without the rights: see
  // SetupEngine::SetHandBack.
  void SetHandBack(bool handBack) { handBack_ = handBack; }
  const std::vector<HandedCommand>& HandedBack() const { return handedBack_; }

 private:
  // The installation's UNINSTALL commands, waited for, before anything is
  // removed; one that fails is logged and counted, and the removal goes on.
  void RunCommands();
  // Started by another name of the folder its registration names: that
  // name from now on (true when it changed).
  bool UseRegisteredName(const Product& product);
  // Shows the window and asks first when shown; false when the person
  // declines or a quit message comes.
  bool ShowAndConfirm();
  // Takes back a run killed halfway, and removes what the last finished
  // run set aside but had no time to remove.
  void FinishEarlierRuns();
  // Stops and deletes the installation's services, before their programs go.
  void RemoveServices();
  // [UNINSTALLDELETE]: what the program made as it ran, before the
  // installation's own files so that their folders can go too.
  void RemoveGenerated();
  // A file, or a folder with everything in it; a link is removed itself,
  // never entered.
  void RemoveGeneratedPath(const std::string& path, std::uint32_t attributes);
  void RemoveFiles();
  // What a file's delete came to: logged, or kept for another run. One in
  // use, not yet tried again, waits in held_ for TryHeldAgain.
  void Removed(const RemovalPlan::File& f, bool deleted, bool tried);
  // Deletes the files in use again a few times over a short while; those
  // still held are left to the restart (or another run).
  void TryHeldAgain();
  // A file's size and time as its folder's listing gives them.
  std::optional<FileStamp> StampOf(const std::string& path);
  void RemoveRegistry();
  void Unregister();
  void RemoveOwnFiles();
  // Something could not be removed now: remember it for another run.
  void Retry(RecordEntry::Kind kind, const std::string& path, std::uint32_t root, const std::string& name,
             std::uint64_t size, std::uint64_t modified);
  void KeepForAnotherRun();
  // Takes out of PATH exactly the entries the installations added.
  void RemovePathEntries();
  void RemoveFolders();
  void Step(int position, int max, const std::string& status);
  void Pump();
  bool Stopped() const { return state_.finished; }
  void Failed(const std::string& what);
  void Log(const std::string& line) {
    if (log_) log_->Line(line);
  }

  Platform& platform_;
  SetupWindow& window_;
  RunState& state_;
  RunReport& report_;
  std::string programFile_;
  std::string folder_;  // the program's, ending in a backslash
  std::string bytes_;   // the record as Read found it, until Load vouches for it
  RunLog* log_ = nullptr;
  bool handBack_ = false;
  std::vector<HandedCommand> handedBack_;
  RemovalPlan plan_;
  std::vector<RecordEntry> unfinished_;  // a killed run's lines, undone first
  std::vector<RecordEntry> finished_;    // the lines of runs that ended
  RecordSeal::Mark recordMark_;  // the record as read
  std::vector<RecordEntry> retry_;
  std::set<std::string> listed_;                // folders listed, upper case
  std::map<std::string, FileStamp> stamps_;     // their files, upper case
  std::vector<std::string> shortcutFolders_;    // told to the shell after the files, each once
  std::vector<const RemovalPlan::File*> held_;  // in use when first deleted, into plan_.files
  Throttle pumps_;
};

}  // namespace qv
