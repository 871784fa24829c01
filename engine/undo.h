// Taking back what one run of an installation did, from that run's lines of
// its record: for a run that was quit or failed halfway, and for one that
// was killed, by the next run that finds its record unfinished.
#pragma once

#include <vector>

#include "engine/install_record.h"
#include "engine/platform.h"
#include "engine/setup_window.h"

namespace qv {

// Files, registry values, keys and folders, latest first: what the run
// created goes, what it replaced comes back. Gives the steps that failed.
int UndoChanges(Platform& platform, const std::vector<RecordEntry>& run, RunLog* log);

// The product's registration as it was before the run: its values put
// back, or the whole registration removed when the run created it. Comes
// last: the registration vouches for the record.
int UndoRegistration(Platform& platform, const std::vector<RecordEntry>& run, RunLog* log);

// Removes the previous contents the run kept aside (it went to its end).
// A file something still holds is left to the next restart where allowed.
void DropAsides(Platform& platform, const std::vector<RecordEntry>& run, RunLog* log);

// A shortcut's file (".lnk"): its folder is told to the shell once it goes.
bool IsShortcutFile(const std::string& path);

// After a run over an earlier installation went to its end: removes what
// the earlier runs (`earlier`, their lines) installed and this run (`run`)
// did not install again, by the uninstaller's rules (a file the person
// changed since stays, and is named in the log; what was there before the
// installation stays). Gives the earlier lines the record still needs:
// what could not go now, and the folders, keys and other registrations
// that remain. `run` comes back with what was there before this run but
// was the installation's own marked as such.
std::vector<RecordEntry> SweepStale(Platform& platform, const std::vector<RecordEntry>& earlier,
                                    std::vector<RecordEntry>& run, RunLog* log);

}  // namespace qv
