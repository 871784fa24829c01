// The run driver: finds the setup script and carries out its sections in
// order (GUI, INSTALL, REGISTRY, SERVICES, SHORTCUTS, PATH, COMMAND) through the
// machine's parts and the window; with an UNINSTALL section, a record
// keeper writes down each change for the uninstaller and undoes the run
// when it ends before its end.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/command_line.h"
#include "engine/commands.h"
#include "engine/folders.h"
#include "engine/install_entry.h"
#include "engine/install_record.h"
#include "engine/platform.h"
#include "engine/run_report.h"
#include "engine/scope.h"
#include "engine/setup_window.h"
#include "engine/update.h"

namespace qv {

class ScriptReader;

// The script named by the first argument (relative to the program folder
// unless it has a drive), or the program's own name with ".ini".
std::string ScriptFileName(const std::string& programFile, const std::vector<std::string>& args);

class SetupEngine {
 public:
  SetupEngine(Platform& platform, SetupWindow& window, RunState& state, FolderValues& folders,
              std::string programFile);

  // The whole run. Throws EngineError for the few hard errors; the caller
  // reports them and leaves the window as it is. A recorded installation
  // that ends before its end (quit, closed, an error) is undone first.
  void Run(const std::vector<std::string>& args);

  void InstallEntry(std::string source, std::string destination, InstallFlags flags = {});
  // Counts (copy false) or copies (copy true) what matches a pattern into a
  // destination folder ending in a backslash; gives the number of files met.
  int CopyMatches(const std::string& pattern, const std::string& destination, bool copy);
  void WriteRegistryEntry(const std::string& keyPath, const std::string& valueText);
  void RunCommand(const std::string& value);

  const std::string& ProgramFolder() const { return programFolder_; }

  // From the command line: a hidden run whatever the script says, and the
  // folder every "?" entry installs to without asking.
  void SetOptions(bool forceHidden, std::optional<std::string> installDir) {
    forceHidden_ = forceHidden;
    installDir_ = std::move(installDir);
  }
  // An older version of the product may replace a newer one.
  void AllowDowngrade(bool allow) { allowDowngrade_ = allow; }
  // Whether running programs that hold files the run replaces are closed
  // (and started again at the end): asked in a shown run, else not.
  void SetCloseApplications(CommandLineOptions::Close close) { close_ = close; }
  // The run installs an update package: only over its base's installation.
  void SetUpdate(UpdateSource* update) { update_ = update; }
  void SetLog(RunLog* log) { log_ = log; }
  // Where failed entries that reach no platform call are counted.
  void SetReport(RunReport* report) { report_ = report; }
  // For whom and for which processor the run installs.
  void SetPlacement(const Placement& placement) { placement_ = placement; }
  // Who keeps the record for an uninstaller, when the script asks for one.
  void SetRecordKeeper(RecordKeeper* keeper) { keeper_ = keeper; }
  bool ScriptFound() const { return scriptFound_; }
  // This elevated run was started again by a run without the rights: it
  // hands ASUSER commands back to that run, which starts them as the
  // person once this one ends.
  void SetHandBack(bool handBack) { handBack_ = handBack; }
  // Starts a command line as the person who started setup, never with
  // administrator rights (as ASUSER does): for the finished window's
  // "start now". False when it was not started nor handed back.
  bool StartAsPerson(const std::string& commandLine, int showCode = 1, const std::string& workingFolder = {});
  // What this run hands back to its first start when it ends, in order.
  const std::vector<HandedCommand>& HandedBack() const { return Runner().HandedBack(); }
  // The finished window has closed: starts what it offered to, when the
  // person kept it chosen.
  void StartChosen();

 private:
  // The run's steps, in order; each but the last false when the run stops.
  void RunScript(const std::vector<std::string>& args);
  std::string ShowWindow(const ScriptReader& script);  // gives the title
  // Throws EngineError, before anything is written, for a folder macro
  // that would still have no value where a section of ours uses it.
  void CheckMacros(const ScriptReader& script) const;
  bool InstallFiles(const ScriptReader& script, const std::string& title);
  // [UNINSTALLDELETE]: what the uninstaller removes besides what the run
  // installs, recorded once checked to lie inside the installation.
  bool RecordGenerated(const ScriptReader& script);
  bool WriteRegistry(const ScriptReader& script);
  // An optional section's keys; when it has any, its status line shows and
  // the bar counts them.
  std::vector<std::string> StartSection(const ScriptReader& script, const char* section, const std::string& status);
  // Installs (or, an earlier version's, reconfigures) each service and
  // starts those that start with the system; a machine installation's only.
  bool InstallServices(const ScriptReader& script);
  // The product's running services whose programs are among `files` are
  // stopped before those are replaced, and started again once the run's
  // files are in place (StartStoppedServices), however it ends.
  void StopServicesOf(const std::vector<std::string>& files);
  void StartStoppedServices();
  bool MakeShortcuts(const ScriptReader& script);
  bool AddPathEntries(const ScriptReader& script);
  bool RunCommands(const ScriptReader& script);
  // Carries out COMMAND entries (made when first needed: the log and the
  // report are set by then).
  CommandRunner& Runner() const;
  // What [SETUP] RunAfter starts, worked out once the run's folders are known.
  void PlanRunAfter(const ScriptReader& script, const std::string& runAfter);
  // An entry that cannot be carried out as written: logged and counted.
  void FailedEntry(const std::string& line);
  void EndRun();
  void UndoUnlessComplete();
  // Handles window events between two entries; true when the run stops.
  bool Stopped();
  void PromptForPath(const std::string& suggested);
  // The registry root of the run's scope: the PATH's and HKSCOPE's.
  std::uint32_t ScopeRoot() const;
  // The folder the prompt suggests for the entry being processed.
  std::string SuggestedFolder() const;
  // The [UNINSTALL] section's values, as written.
  struct UninstallValues {
    std::string name, version, publisher, folder, id, displayIcon;
    std::vector<std::pair<std::string, std::string>> about;  // kAboutValues given, as written
  };
  void ReadUninstall(const ScriptReader& script, const std::string& title);
  // Where and in which version the product is installed: an update goes
  // there, and an older version stops here unless allowed.
  void LookForInstalled(const UninstallValues& v, const std::string& id);
  void OpenRecord();
  // An update's files that come from its base are checked against the
  // installed ones (and patched ones made) before anything is written.
  void CheckBases(const ScriptReader& script, const std::vector<std::string>& entries);
  // The update does not fit what is installed: logged, and the run stops
  // before anything is written.
  [[noreturn]] void RefuseUpdate(const std::string& why);
  // An entry's source pattern and destination folder (with its backslash),
  // macros expanded and resolved from the program's folder.
  std::pair<std::string, std::string> Resolved(std::string source, std::string destination) const;
  // Whether the entry's flags leave a file that is there as it is (logged
  // with why); `modified`: the source's time.
  bool LeaveExisting(const std::string& from, const std::string& to, std::uint64_t modified);
  // Closes, as the run may, the programs that hold files of `replacing_`.
  void CloseHolders();
  void PumpWhileBusy();
  void PumpNow(std::uint32_t now);
  // A file that failed because the package is damaged; the run stops at
  // the next StopIfDamaged, and is undone.
  void NoteDamage(const std::string& path);
  void StopIfDamaged();
  // Files are announced to the keeper before they are written.
  bool Keeping() const { return recordOpen_ || journal_; }

  Platform& platform_;
  SetupWindow& window_;
  RunState& state_;
  FolderValues& folders_;
  std::string programFile_;
  std::string programFolder_;
  void Log(const std::string& line) {
    if (log_) log_->Line(line);
  }
  bool forceHidden_ = false;
  Placement placement_;
  RunReport* report_ = nullptr;
  bool fileTypesChanged_ = false;  // a REGISTRY entry under Software\Classes
  std::optional<std::string> installDir_;
  bool allowDowngrade_ = false;
  CommandLineOptions::Close close_ = CommandLineOptions::Close::Ask;
  std::optional<bool> closeAnswer_;  // the person's, asked once a run
  std::vector<std::string> replacing_;  // files of the entry that are there already
  InstallFlags flags_;                  // the entry's
  std::set<std::string> leaving_;       // its files left as they are (upper case)
  bool closedPrograms_ = false;
  std::vector<std::string> stoppedServices_;
  UpdateSource* update_ = nullptr;
  bool checkingBases_ = false;
  std::string notTheBase_;  // the first installed file an update was not made against
  std::string productName_;
  // The installation folder of the product installed already, for the
  // first "?" entry (the one that makes the record's folder).
  std::optional<std::string> installedDir_;
  RunLog* log_ = nullptr;
  bool scriptFound_ = true;
  bool restartNeeded_ = false;  // a file in use waits for the next restart
  RecordKeeper* keeper_ = nullptr;
  std::optional<UninstallValues> uninstall_;
  bool recordOpen_ = false;
  bool journal_ = false;  // no record, but a journal of the run
  bool damaged_ = false;
  bool complete_ = false;
  Throttle pumps_;
  bool handBack_ = false;
  mutable std::unique_ptr<CommandRunner> runner_;
  struct Start {
    std::string commandLine, workingFolder;
  };
  std::optional<Start> runAfter_;
};

}  // namespace qv
