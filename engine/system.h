// The machine's system folders, its text and its clock, and what the last
// call of any kind left as its error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

namespace qv {

// The system's error codes for "nothing there" (checked against the
// platform's headers in its adapter).
enum : std::uint32_t { kErrorFileNotFound = 2, kErrorPathNotFound = 3 };
// A folder or key that still holds something.
enum : std::uint32_t { kErrorDirNotEmpty = 145, kErrorKeyHasChildren = 1020 };
// A file's content turned out damaged while it was written (ERROR_CRC).
enum : std::uint32_t { kErrorDamagedData = 23 };
// Ours (the customer bit set): a packed file is not what the package says,
// so nothing more of the package can be trusted.
enum : std::uint32_t { kErrorPackageDamaged = 0x20000006 };
// Refused: what is asked for is not ours to do (ERROR_ACCESS_DENIED).
enum : std::uint32_t { kErrorAccessDenied = 5 };
// The person declined the elevation prompt (ERROR_CANCELLED).
enum : std::uint32_t { kErrorCancelled = 1223 };
// A path that leads elsewhere through a junction or symbolic link
// (ERROR_CANT_ACCESS_FILE).
enum : std::uint32_t { kErrorReachedThroughLink = 1920 };
// A path longer than the system takes (ERROR_FILENAME_EXCED_RANGE).
enum : std::uint32_t { kErrorPathTooLong = 206 };
// No person is there to start a program as (ERROR_NO_SUCH_LOGON_SESSION).
enum : std::uint32_t { kErrorNoPerson = 1312 };
// A running program holds the file (ERROR_SHARING_VIOLATION), whichever
// way the system refused it.
enum : std::uint32_t { kErrorInUse = 32 };

// No service of that name (ERROR_SERVICE_DOES_NOT_EXIST).
enum : std::uint32_t { kErrorNoService = 1060 };

// How the system starts a service (the Service Control Manager's numbers).
enum class ServiceStart : std::uint32_t { Auto = 2, Demand = 3, Disabled = 4 };

// A service as the Service Control Manager keeps it.
struct ServiceConfig {
  std::string command;  // its binary path: the program, quoted
  std::string displayName;
  ServiceStart start = ServiceStart::Demand;
  std::string account;  // empty: LocalSystem
  std::string description;
  bool operator==(const ServiceConfig&) const = default;
};

// The folders the system names for a package's places, each for this user
// or for all users.
enum class KnownFolder {
  LocalAppData,        // this user's, not roaming (C:\Users\<name>\AppData\Local)
  AppData,             // this user's, roaming
  UserPrograms,        // this user's programs (LocalAppData\Programs)
  Profile,             // this user's profile folder
  StartMenuPrograms,   // this user's Start menu Programs folder
  Desktop,             // this user's desktop
  Startup,             // this user's Startup folder
  CommonAppData,       // all users' data (ProgramData)
  CommonStartMenuPrograms,
  CommonDesktop,       // the public desktop
  CommonStartup,
  ProgramFilesNative,  // the 64-bit Program Files on 64-bit Windows, else Program Files
  CommonFiles,         // Common Files as a 32-bit program sees it
  CommonFilesNative,   // the 64-bit Common Files on 64-bit Windows, else Common Files
  Fonts,
};

// A running program that holds files a run must replace, as the system's
// Restart Manager names it.
struct RunningProgram {
  std::string name;
  std::uint32_t process = 0;
  bool restartable = false;  // it registered to be started again after being closed
};

class System {
 public:
  virtual ~System() = default;

  virtual std::string WindowsFolder() = 0;
  virtual std::string SystemFolder() = 0;
  virtual std::string TempPath() = 0;  // with its trailing backslash
  // A folder the system names, without a trailing backslash; empty when the
  // system has none.
  virtual std::string KnownFolderPath(KnownFolder which) = 0;
  // 64-bit Windows (this 32-bit program runs under its 32-bit layer).
  virtual bool Windows64() = 0;
  // From now on registry keys are opened in the 64-bit view and paths
  // under the system folder reach the 64-bit one (on 64-bit Windows; on
  // 32-bit Windows there is only the one).
  virtual void UseNativeView() = 0;
  // The text with the environment's %NAME% parts expanded as the system
  // does (unknown names stay).
  virtual std::string ExpandEnvironment(const std::string& text) = 0;
  // ANSI bytes of a code page (0: the system's ANSI code page) in UTF-8.
  virtual std::string FromCodePage(unsigned codePage, std::string_view bytes) = 0;
  virtual void Pause(unsigned milliseconds) = 0;
  // Today's local date as YYYYMMDD.
  virtual std::string Today() = 0;
  // Milliseconds from some fixed moment; wraps around.
  virtual std::uint32_t Ticks() = 0;

  // The system's code and message for the last call that failed, of any
  // part of the machine.
  struct Error {
    std::uint32_t code = 0;
    std::string message;
  };
  virtual Error LastError() = 0;

  // The programs that hold any of these files (none where the system
  // cannot tell). They are what CloseHolders closes.
  virtual std::vector<RunningProgram> ProgramsHolding(const std::vector<std::string>& files) = 0;
  // Asks the programs last found to close; false when any of them still
  // runs (what it holds is then replaced at the next restart).
  virtual bool CloseHolders() = 0;
  // Starts again the programs closed that registered for it.
  virtual void RestartClosed() = 0;

  // The Service Control Manager's services, by name. None when there is
  // no such service (kErrorNoService) or it cannot be read.
  virtual std::optional<ServiceConfig> FindService(const std::string& name) = 0;
  virtual bool MakeService(const std::string& name, const ServiceConfig& config) = 0;
  virtual bool ChangeService(const std::string& name, const ServiceConfig& config) = 0;
  virtual bool ServiceRunning(const std::string& name) = 0;
  // Each waits a bounded time for the service to get there: true when it
  // runs (is stopped), whether it did already or not.
  virtual bool StartOneService(const std::string& name) = 0;
  virtual bool StopOneService(const std::string& name) = 0;
  // Marked for deletion: it goes once stopped and no longer open.
  virtual bool DeleteOneService(const std::string& name) = 0;
};

}  // namespace qv
