// The engine reaches the machine only through these parts, one per
// concern: the program plugs in the Win32 adapter's, tests an in-memory
// machine's. A decorator wraps only the parts it changes and hands on the
// others as they are.
#pragma once

#include "engine/file_system.h"
#include "engine/registry.h"
#include "engine/rights.h"
#include "engine/shell.h"
#include "engine/system.h"

namespace qv {

// Every path, name and text crossing to the machine is UTF-8.
struct Platform {
  using Error = System::Error;

  FileSystem& files;
  Registry& registry;
  Shell& shell;
  Rights& rights;
  System& system;
};

}  // namespace qv
