// The private folders runs make under the temporary folder (a packed
// setup's unpacked programs, an uninstaller moved out of its folder), and
// the sweep of those earlier runs left behind.
#pragma once

#include "engine/platform.h"
#include "engine/setup_window.h"

namespace qv {

// Private folders are named this and 32 random hex digits, so left-overs
// are recognised at the next start.
inline constexpr char kPrivateFolderPrefix[] = "qvSetup-";

// Removes private folders earlier runs left behind where nothing holds them.
void RemoveLeftoverFolders(Platform& platform, RunLog* log);

}  // namespace qv
