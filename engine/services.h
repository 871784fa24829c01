// [SERVICES] entries, and taking away a service an installation installed:
// the rules the installer, its undo, an update and the uninstaller share.
#pragma once

#include <optional>
#include <string>

#include "engine/folders.h"
#include "engine/install_record.h"
#include "engine/system.h"

namespace qv {

// Name=program,display name,start type[,account[,description]]
struct ServiceEntry {
  std::string name;
  std::string program;  // a full path, macros expanded
  ServiceConfig config;
};

// The entry, or none with `why` it cannot be installed as written.
std::optional<ServiceEntry> ParseServiceEntry(const FolderValues& folders, const std::string& name,
                                              const std::string& value, std::string& why);

enum class ServiceRemoval { Removed, Gone, NotOurs, Failed };
// Stops (a bounded wait) and deletes a service an installation installed,
// unless it runs another program by now: then it is somebody else's.
ServiceRemoval RemoveService(System& system, const InstalledService& service);

}  // namespace qv
