// The engine's machine over the real Win32 API: one part per concern,
// sharing the run's view of the machine and what it knows of files in use.
#pragma once

#include "engine/platform.h"
#include "engine/win32/file_log.h"
#include "engine/win32/files_in_use.h"
#include "engine/win32/native_view.h"
#include "engine/win32/win32_files.h"
#include "engine/win32/win32_registry.h"
#include "engine/win32/win32_rights.h"
#include "engine/win32/win32_shell.h"
#include "engine/win32/win32_system.h"
#include "framework/windows_paths.h"

namespace qv {

class Win32Platform : public Platform {
 public:
  Win32Platform() : Platform{files_, registry_, shell_, rights_, system_} {}
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

 private:
  NativeView view_;
  FilesInUse inUse_;
  Win32System system_{view_, inUse_};
  Win32Rights rights_{view_};
  Win32Registry registry_{view_};
  Win32Shell shell_{view_, system_};
  Win32Files files_{view_, inUse_, rights_, system_};
};

}  // namespace qv
