// The folder values behind the script's %MACRO% names, and the two folder
// services built on the platform.
#pragma once

#include <string>
#include <vector>

#include "engine/platform.h"

namespace qv {

struct FolderValues {
  std::string programFiles;  // PROGRAMFILESDIR
  std::string system;        // SYSTEMDIR
  std::string windows;       // WINDOWSDIR
  std::string temp;          // TEMPDIR, without its trailing backslash
  std::string install;       // INSTALLDIR, empty until a path prompt confirms one
  // The places the system names, for the run's scope and architecture.
  std::string localAppData;  // LOCALAPPDATA
  std::string appData;       // APPDATA
  std::string commonAppData; // COMMONAPPDATA
  std::string commonFiles;   // COMMONFILESDIR
  std::string startMenu;     // STARTMENU: the Start menu's Programs folder
  std::string desktop;       // DESKTOP
  std::string startup;       // the Startup folder (a shortcut's STARTUP place)
  std::string fonts;         // FONTSDIR
  std::string userProfile;   // USERPROFILE
  std::string userPrograms;  // where a per-user installation's folder is suggested
};

// Fills every value but INSTALLDIR, for all users or for this one, the
// 64-bit Program Files for a 64-bit program. Throws EngineError when
// ProgramFilesDir holds something other than text.
void InitFolderValues(Platform& platform, FolderValues& folders, bool allUsers = false, bool native64 = false);

// The value for a macro name (trimmed, case-blind), or empty.
std::string MacroValue(const FolderValues& folders, const std::string& name);

// The first folder macro in a text that has no value (trimmed, upper
// case), as ExpandMacros meets them; empty when there is none. An unknown
// name is no folder macro: it may be one of the system's own variables.
std::string UnsetMacro(const FolderValues& folders, const std::string& text);

// Replaces every known %NAME% in place, left to right; inserted text is never
// scanned again and unknown names stay as they are. `names`, when given,
// gets each name replaced (trimmed, upper case).
void ExpandMacros(const FolderValues& folders, std::string& text, std::vector<std::string>* names = nullptr);

bool FolderExists(Platform& platform, const std::string& path);

// Creates a folder and any missing parents from the top down; true when the
// folder exists afterwards. A folder whose path is too long for the system
// gets none of its parents made. Throws EngineError for an empty path.
bool CreateFolderPath(Platform& platform, const std::string& path);

}  // namespace qv
