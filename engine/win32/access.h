// Who may change a file, and whether a path leads where it says: what the
// record, the uninstaller and the sweep of private folders rely on before
// they let a file steer them or remove anything.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "framework/handles.h"

namespace qv::access {

// The run is elevated or the system's: it may change what every user
// relies on.
bool Elevated();

// The access list of our own files: full control for this account (its
// default owner: administrators, in an elevated run), administrators and
// the system, read and run for users. With inheritance for a folder.
std::wstring OwnDacl();
// Only this account and the system, as a private folder has it.
std::wstring PrivateDacl();

// A security descriptor from its text form, or none.
UniqueLocal Descriptor(const std::wstring& sddl);

// Gives a file or folder our own access list (OwnDacl), nothing inherited.
bool Protect(const std::wstring& path);

// The file or folder the handle holds is the one the path spells, not one
// reached through a junction, symbolic link or mount point on the way.
bool ReachedDirectly(HANDLE file, const std::wstring& path);

enum class Grants {
  Change,    // nobody else may change it
  Anything,  // nobody else may even read it (a private folder)
};
// The handle's object is owned by this account, administrators or the
// system, and its access list grants others nothing of `what`. The handle
// needs READ_CONTROL.
bool OnlyOurs(HANDLE file, Grants what);

// A lock only those who may take it can take: in an elevated run, a mutex
// in a private namespace bounded by the administrators (no program without
// their rights can make or open it first); otherwise one in this session's
// namespace, named after this account and open to it alone. Null when it
// is already held or cannot be made.
class Lock {
 public:
  static std::unique_ptr<Lock> Take(const std::wstring& name);
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  Lock(HANDLE space, UniqueHandle mutex) : space_(space), mutex_(std::move(mutex)) {}
  HANDLE space_;  // the private namespace, owned (closed with its own call)
  UniqueHandle mutex_;
};

// This run's token: an administrator's elevated one with a limited half
// (full), that half (limited), or one without halves (default).
TOKEN_ELEVATION_TYPE ElevationType();

// A primary token of this account without its administrator rights: the
// limited half of this elevated run's token where the system hands it out
// so, else the shell's own when the shell runs as this account without
// them. Null when there is none to have.
UniqueHandle LimitedHalfToken();

// A primary token of the person at the desktop, never elevated and never
// the system account: the desktop shell's; under the system account
// without a shell, the console session's person's. Null when there is
// none (ERROR_NO_SUCH_LOGON_SESSION).
UniqueHandle PersonToken();

// Opens a path for a look at it (and for deleting it, with DELETE in
// `access`), never following a link at its end.
UniqueFile OpenNoFollow(const std::wstring& path, DWORD access);

}  // namespace qv::access
