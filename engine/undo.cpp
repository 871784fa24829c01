#include "engine/undo.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "engine/path_list.h"
#include "engine/run_report.h"
#include "engine/services.h"
#include "engine/text.h"
#include "framework/portable/file_name_case.h"

namespace qv {

namespace {

using ValueKey = std::tuple<std::uint32_t, std::string, std::string>;

ValueKey KeyOf(const RecordEntry& e) { return {e.root, FileNameKey(e.path), FileNameKey(e.name)}; }

std::string ValueName(std::uint32_t root, const std::string& subkey, const std::string& name) {
  return RootName(root) + "\\" + subkey + " value \"" + name + "\"";
}

class Steps {
 public:
  Steps(Platform& platform, RunLog* log) : platform_(platform), log_(log) {}
  void Log(const std::string& line) {
    if (log_) log_->Line("undo: " + line);
  }
  void Failed(const std::string& what) {
    ++failures;
    Log(what + " (error " + std::to_string(platform_.system.LastError().code) + ")");
  }
  // A step not done for a reason of ours, not the system's.
  void Count(const std::string& what) {
    ++failures;
    Log(what);
  }
  bool Exists(const std::string& path) { return platform_.files.Attributes(path) != kNoAttributes; }
  int failures = 0;

 private:
  Platform& platform_;
  RunLog* log_;
};

// The first line of each value the run wrote tells how it was before.
std::map<ValueKey, RecordEntry> ValuesBefore(const std::vector<RecordEntry>& run) {
  std::map<ValueKey, RecordEntry> before;
  for (const RecordEntry& e : run)
    if (e.kind == RecordEntry::Kind::Before) before.try_emplace(KeyOf(e), e);
  return before;
}

bool PutBack(Platform& platform, const RecordEntry& before) {
  if (before.existed)
    return platform.registry.WriteStoredValue(before.root, before.path, before.name,
                                     {before.type, std::vector<std::uint8_t>(before.data.begin(), before.data.end())});
  return !platform.registry.FindRegistryValue(before.root, before.path, before.name).value ||
         platform.registry.DeleteRegistryValue(before.root, before.path, before.name);
}

// Files the run created go where unchanged; those it replaced get their
// earlier content back from where the run moved it, when it is still as
// moved. A name the run only gave (it was killed before the move, or the
// record is from before moves were confirmed) may hold anybody's file:
// that stays where it is.
void UndoFiles(Platform& platform, Steps& steps, const std::vector<RecordEntry>& run, const RemovalPlan& plan) {
  std::map<std::string, std::string> waiting;        // by file, the last
  std::map<std::string, RecordEntry> moved;          // by file, the last
  std::map<std::string, std::vector<std::string>> named;  // by file, every name given
  for (const RecordEntry& e : run) {
    if (e.kind == RecordEntry::Kind::Aside) named[FileNameKey(e.path)].push_back(e.name);
    if (e.kind == RecordEntry::Kind::MovedAside) moved[FileNameKey(e.path)] = e;
    if (e.kind == RecordEntry::Kind::Waiting) waiting[FileNameKey(e.path)] = e.name;
  }
  for (const RemovalPlan::File& f : plan.files) {
    const auto w = waiting.find(FileNameKey(f.path));
    if (w != waiting.end() && steps.Exists(w->second)) {
      // What waits for the restart to replace the file goes; the file stays.
      if (platform.files.DeleteOneFile(w->second)) steps.Log("no longer replaced at the restart: " + f.path);
      else steps.Failed("still replaced at the restart: " + f.path);
    }
    if (f.existed) {
      const auto m = moved.find(FileNameKey(f.path));
      const std::vector<std::string>& names = named[FileNameKey(f.path)];
      // Killed between moving the file aside and saying so: its place is
      // empty and the name given last holds it (a name found taken gets
      // another). Only an empty place is filled so, which whoever could
      // have made that file could fill himself: nothing is replaced.
      const bool movedUnsaid = m == moved.end() && !f.written && !names.empty() && !steps.Exists(f.path) &&
                               steps.Exists(names.back());
      for (const std::string& name : names)
        if ((m == moved.end() || !SameFileName(name, m->second.name)) && !(movedUnsaid && name == names.back()) &&
            steps.Exists(name))
          steps.Log("left where it is, not known to be the earlier content of " + f.path + ": " + name);
      if (movedUnsaid) {
        if (platform.files.MoveOneFile(names.back(), f.path)) steps.Log("put back: " + f.path);
        else steps.Failed("not put back: " + f.path);
        continue;
      }
      if (m == moved.end()) {
        if (f.written) steps.Log("not put back (its earlier content was not kept): " + f.path);
        continue;
      }
      const RecordEntry& kept = m->second;
      const std::optional<FileStamp> now = platform.files.Stamp(kept.name);
      if (!now) continue;  // put back already, by an undo cut short
      if (!(*now == FileStamp{kept.size, kept.modified})) {
        steps.Count("not put back, " + kept.name + " changed since it was set aside (left where it is): " + f.path);
        continue;
      }
      if (steps.Exists(f.path) && !platform.files.DeleteOneFile(f.path)) {
        steps.Failed("not put back: " + f.path);
        continue;
      }
      if (platform.files.MoveOneFile(kept.name, f.path)) steps.Log("put back: " + f.path);
      else steps.Failed("not put back: " + f.path);
      continue;
    }
    if (!f.written && !f.cutShort) continue;
    const std::optional<FileStamp> now = platform.files.Stamp(f.path);
    if (!now) continue;
    if (!f.cutShort && !(*now == FileStamp{f.size, f.modified})) {
      steps.Log("kept (changed since it was written): " + f.path);
      continue;
    }
    if (platform.files.DeleteOneFile(f.path)) steps.Log("removed: " + f.path);
    else steps.Failed("not removed: " + f.path);
  }
}

// Values the run created go; those it replaced get their earlier type and
// bytes back.
void UndoValues(Platform& platform, Steps& steps, const std::vector<RecordEntry>& run, const RemovalPlan& plan) {
  const std::map<ValueKey, RecordEntry> before = ValuesBefore(run);
  for (const RemovalPlan::Value& v : plan.values) {
    const std::string what = ValueName(v.root, v.subkey, v.name);
    const auto b = before.find({v.root, FileNameKey(v.subkey), FileNameKey(v.name)});
    if (v.existed && b == before.end()) {
      steps.Log("not put back (its earlier data was not kept): " + what);
    } else if (v.existed) {
      if (PutBack(platform, b->second)) steps.Log("put back: " + what);
      else steps.Failed("not put back: " + what);
    } else if (platform.registry.FindRegistryValue(v.root, v.subkey, v.name).value) {
      if (platform.registry.DeleteRegistryValue(v.root, v.subkey, v.name)) steps.Log("removed: " + what);
      else steps.Failed("not removed: " + what);
    }
  }
}

// Services the run installed go; those it reconfigured (an earlier
// version's) get their earlier configuration back, stopped meanwhile: a
// running service holds its program, which the undo puts back next. Gives
// those it stopped, to start again then.
std::vector<std::string> UndoServices(Platform& platform, Steps& steps, const std::vector<RecordEntry>& run) {
  std::vector<std::string> stopped;
  std::set<std::string> done;
  for (auto e = run.rbegin(); e != run.rend(); ++e) {
    if (e->kind != RecordEntry::Kind::Service) continue;
    // A service's first line in the run tells how it was before it.
    const auto first = std::find_if(run.begin(), run.end(), [&](const RecordEntry& x) {
      return x.kind == RecordEntry::Kind::Service && SameText(x.name, e->name);
    });
    if (!done.insert(UpperCase(e->name)).second) continue;
    if (first->existed) {
      if (platform.system.ServiceRunning(first->name) && platform.system.StopOneService(first->name) &&
          first->service.start != ServiceStart::Disabled)
        stopped.push_back(first->name);
      if (platform.system.ChangeService(first->name, first->service)) steps.Log("put back: service " + first->name);
      else steps.Failed("not put back: service " + first->name);
      continue;
    }
    switch (RemoveService(platform.system, {e->name, e->path})) {
      case ServiceRemoval::Removed: steps.Log("removed: service " + e->name); break;
      case ServiceRemoval::Gone: break;
      case ServiceRemoval::NotOurs: steps.Log("left (it runs another program now): service " + e->name); break;
      case ServiceRemoval::Failed: steps.Failed("not removed: service " + e->name); break;
    }
  }
  return stopped;
}

}  // namespace

int UndoChanges(Platform& platform, const std::vector<RecordEntry>& run, RunLog* log) {
  Steps steps(platform, log);
  const RemovalPlan plan = PlanRemoval(run);
  for (const auto& [root, entry] : plan.pathEntries) {
    if (RemoveFromPath(platform, root, entry) == PathEdit::Failed) steps.Failed("not taken out of PATH: " + entry);
    else steps.Log("taken out of PATH: " + entry);
  }
  if (!plan.pathEntries.empty()) platform.shell.Announce(Change::Environment, "");
  const std::vector<std::string> stopped = UndoServices(platform, steps, run);
  UndoFiles(platform, steps, run, plan);
  UndoValues(platform, steps, run, plan);
  for (const std::string& name : stopped) {
    if (platform.system.StartOneService(name)) steps.Log("started again: service " + name);
    else steps.Failed("not started again: service " + name);
  }
  for (const auto& [root, key] : plan.keys) {
    if (platform.registry.DeleteRegistryKey(root, key, false)) steps.Log("removed: " + RootName(root) + "\\" + key);
  }
  for (const std::string& folder : plan.folders) {
    if (platform.files.RemoveFolder(folder)) steps.Log("removed: " + folder);
  }
  return steps.failures;
}

int UndoRegistration(Platform& platform, const std::vector<RecordEntry>& run, RunLog* log) {
  Steps steps(platform, log);
  std::set<ValueKey> written;  // the script's own values: undone with the changes
  for (const RecordEntry& e : run)
    if (e.kind == RecordEntry::Kind::Value) written.insert(KeyOf(e));
  for (const auto& [key, b] : ValuesBefore(run)) {
    if (written.count(key)) continue;
    if (!PutBack(platform, b)) steps.Failed("registration not put back: " + ValueName(b.root, b.path, b.name));
  }
  for (const RecordEntry& e : run) {
    if (e.kind != RecordEntry::Kind::Registered) continue;
    if (platform.registry.DeleteRegistryKey(e.root, e.path, true)) steps.Log("registration removed: " + RootName(e.root) + "\\" + e.path);
    else if (platform.system.LastError().code != kErrorFileNotFound)
      steps.Failed("registration not removed: " + RootName(e.root) + "\\" + e.path);
  }
  return steps.failures;
}

void DropAsides(Platform& platform, const std::vector<RecordEntry>& run, RunLog* log) {
  // Each folder held while its asides go: one look for a link on the way
  // per folder instead of one per file.
  std::unique_ptr<FolderHold> hold;
  std::string held;
  for (const RecordEntry& e : run) {
    // Only what the run moved: a name it only gave may be anybody's file.
    if (e.kind != RecordEntry::Kind::MovedAside) continue;
    const std::string folder = FileNameKey(FolderPart(e.name));
    if (folder != held) {
      hold.reset();
      held = folder;
      hold = platform.files.HoldFolder(FolderPart(e.name));
    }
    if (platform.files.DeleteOneFile(e.name) || platform.system.LastError().code == kErrorFileNotFound) continue;
    // A program still running from the old file: it goes at the restart.
    if (platform.rights.Elevated() && platform.files.RemoveAtRestart(e.name)) {
      if (log) log->Line("previous content of " + e.path + " left until the next restart: " + e.name);
    } else if (log) {
      log->Line("previous content of " + e.path + " not removed: " + e.name);
    }
  }
}

bool IsShortcutFile(const std::string& path) {
  return path.size() > 4 && FileNameKey(std::string_view(path).substr(path.size() - 4)) == ".LNK";
}

std::vector<RecordEntry> SweepStale(Platform& platform, const std::vector<RecordEntry>& earlier,
                                    std::vector<RecordEntry>& run, RunLog* log) {
  const auto say = [log](const std::string& line) {
    if (log) log->Line("update: " + line);
  };
  const RemovalPlan was = PlanRemoval(earlier);
  std::set<std::string> files, folders;
  std::set<ValueKey> values;
  std::set<std::pair<std::uint32_t, std::string>> keys, pathEntries;
  std::set<std::string> services;
  std::vector<std::pair<std::uint32_t, std::string>> valueKeys;  // where this run's values are
  for (const RecordEntry& e : run) {
    switch (e.kind) {
      case RecordEntry::Kind::FileStart:
      case RecordEntry::Kind::File:
      case RecordEntry::Kind::Unwritten: files.insert(FileNameKey(e.path)); break;
      case RecordEntry::Kind::Folder: folders.insert(FileNameKey(WithoutBackslash(e.path))); break;
      case RecordEntry::Kind::Value:
        values.insert(KeyOf(e));
        valueKeys.emplace_back(e.root, FileNameKey(e.path));
        break;
      case RecordEntry::Kind::Key: keys.insert({e.root, FileNameKey(e.path)}); break;
      case RecordEntry::Kind::PathEntry: pathEntries.insert({e.root, FileNameKey(e.name)}); break;
      case RecordEntry::Kind::Service: services.insert(UpperCase(e.name)); break;
      default: break;
    }
  }
  // What the installation put there stays its own, though this run found
  // it there: an uninstall takes it away.
  std::set<std::string> ownFiles;
  std::set<ValueKey> ownValues;
  for (const RemovalPlan::File& f : was.files)
    if (!f.existed) ownFiles.insert(FileNameKey(f.path));
  for (const RemovalPlan::Value& v : was.values)
    if (!v.existed) ownValues.insert({v.root, FileNameKey(v.subkey), FileNameKey(v.name)});
  for (RecordEntry& e : run) {
    if ((e.kind == RecordEntry::Kind::FileStart || e.kind == RecordEntry::Kind::File ||
         e.kind == RecordEntry::Kind::Unwritten) &&
        ownFiles.count(FileNameKey(e.path)))
      e.existed = false;
    if (e.kind == RecordEntry::Kind::Value && ownValues.count(KeyOf(e))) e.existed = false;
  }

  std::vector<RecordEntry> kept;
  // Oldest first in the record: what the plan gives latest first goes back reversed.
  std::vector<RecordEntry> keptFiles, keptValues, keptKeys, keptFolders, keptPath, keptServices;
  std::vector<std::string> shortcutFolders;
  // Services first: a running one holds its program, which may go next.
  for (const InstalledService& s : was.services) {
    if (services.count(UpperCase(s.name))) continue;
    switch (RemoveService(platform.system, s)) {
      case ServiceRemoval::Removed: say("service removed (no longer installed): " + s.name); break;
      case ServiceRemoval::Gone: break;
      case ServiceRemoval::NotOurs: say("service left (it runs another program now): " + s.name); break;
      case ServiceRemoval::Failed:
        say("service not removed (error " + std::to_string(platform.system.LastError().code) +
            "), left to the uninstaller: " + s.name);
        keptServices.push_back({.kind = RecordEntry::Kind::Service, .path = s.program, .name = s.name});
        break;
    }
  }
  for (const RemovalPlan::File& f : was.files) {
    if (files.count(FileNameKey(f.path)) || f.existed || (!f.written && !f.cutShort)) continue;
    if (f.left) {
      say("left (the installation leaves it), no longer named: " + f.path);
      continue;
    }
    const std::optional<FileStamp> now = platform.files.Stamp(f.path);
    if (!now) continue;
    if (!f.cutShort && !(*now == FileStamp{f.size, f.modified})) {
      say("kept (changed since the installation): " + f.path);
      continue;
    }
    if (platform.files.DeleteOneFile(f.path)) {
      say("removed (no longer installed): " + f.path);
      const std::string folder = WithoutBackslash(FolderPart(f.path));
      if (IsShortcutFile(f.path) && std::find(shortcutFolders.begin(), shortcutFolders.end(), folder) == shortcutFolders.end())
        shortcutFolders.push_back(folder);
      continue;
    }
    say("not removed (error " + std::to_string(platform.system.LastError().code) + "), left to the uninstaller: " +
        f.path);
    keptFiles.push_back({.kind = f.cutShort ? RecordEntry::Kind::FileStart : RecordEntry::Kind::File,
                         .path = f.path,
                         .size = f.size,
                         .modified = f.modified});
  }
  for (const std::string& folder : shortcutFolders) platform.shell.Announce(Change::Folder, folder);
  for (const RemovalPlan::Value& v : was.values) {
    if (values.count({v.root, FileNameKey(v.subkey), FileNameKey(v.name)}) || v.existed) continue;
    const std::string what = ValueName(v.root, v.subkey, v.name);
    if (!platform.registry.FindRegistryValue(v.root, v.subkey, v.name).value) continue;
    if (platform.registry.DeleteRegistryValue(v.root, v.subkey, v.name)) {
      say("removed (no longer installed): " + what);
    } else {
      say("not removed, left to the uninstaller: " + what);
      keptValues.push_back({.kind = RecordEntry::Kind::Value, .path = v.subkey, .root = v.root, .name = v.name});
    }
  }
  bool pathChanged = false;
  for (const auto& [root, entry] : was.pathEntries) {
    if (pathEntries.count({root, FileNameKey(entry)})) continue;
    switch (RemoveFromPath(platform, root, entry)) {
      case PathEdit::Changed:
        pathChanged = true;
        say("taken out of " + RootName(root) + " PATH (no longer installed): " + entry);
        break;
      case PathEdit::Unchanged: break;
      case PathEdit::Failed:
        say("not taken out of " + RootName(root) + " PATH, left to the uninstaller: " + entry);
        keptPath.push_back({.kind = RecordEntry::Kind::PathEntry, .root = root, .name = entry});
        break;
    }
  }
  if (pathChanged) platform.shell.Announce(Change::Environment, "");
  for (const auto& [root, key] : was.keys) {
    if (keys.count({root, FileNameKey(key)})) continue;
    // A key still holding a value of this run stays, and stays the installation's.
    const std::string k = FileNameKey(key);
    const bool used = std::any_of(valueKeys.begin(), valueKeys.end(), [&](const auto& v) {
      return v.first == root && (v.second == k || v.second.rfind(k + "\\", 0) == 0);
    });
    if (!used && platform.registry.DeleteRegistryKey(root, key, false)) {
      say("removed (no longer installed): " + RootName(root) + "\\" + key);
      continue;
    }
    const std::uint32_t code = platform.system.LastError().code;
    if (!used && (code == kErrorFileNotFound || code == kErrorPathNotFound)) continue;
    keptKeys.push_back({.kind = RecordEntry::Kind::Key, .path = key, .root = root});
  }
  for (const std::string& folder : was.folders) {
    if (folders.count(FileNameKey(WithoutBackslash(folder)))) continue;
    if (platform.files.RemoveFolder(folder)) {
      say("removed (emptied): " + folder);
      continue;
    }
    const std::uint32_t code = platform.system.LastError().code;
    if (code == kErrorFileNotFound || code == kErrorPathNotFound) continue;
    keptFolders.push_back({.kind = RecordEntry::Kind::Folder, .path = folder});
  }
  // Other registrations of the product (another root): left to its uninstall.
  RecordEntry product;
  for (const RecordEntry& e : run)
    if (e.kind == RecordEntry::Kind::Product) product = e;
  for (const RecordEntry& e : earlier)
    if (e.kind == RecordEntry::Kind::Product && (e.product.registrationRoot != product.product.registrationRoot ||
                                                 !SameText(e.product.id, product.product.id)))
      kept.push_back(e);
  for (auto* part : {&keptFolders, &keptKeys, &keptFiles, &keptValues, &keptPath, &keptServices})
    kept.insert(kept.end(), part->rbegin(), part->rend());
  // What earlier versions' programs made is still there for the uninstaller.
  std::set<std::string> generated;
  for (const RecordEntry& e : run)
    if (e.kind == RecordEntry::Kind::Generated) generated.insert(FileNameKey(e.path));
  for (const std::string& pattern : was.generated)
    if (!generated.count(FileNameKey(pattern))) kept.push_back({.kind = RecordEntry::Kind::Generated, .path = pattern});
  return kept;
}

}  // namespace qv
