#include "engine/services.h"

#include "engine/entries.h"
#include "engine/text.h"
#include "framework/portable/file_name_case.h"

namespace qv {

namespace {

std::optional<ServiceStart> StartOf(const std::string& word) {
  const std::string w = UpperCase(word);
  if (w == "AUTO") return ServiceStart::Auto;
  if (w == "DEMAND" || w == "MANUAL") return ServiceStart::Demand;
  if (w == "DISABLED") return ServiceStart::Disabled;
  return std::nullopt;
}

// The built-in accounts a service runs under without a password.
std::optional<std::string> AccountOf(const std::string& word) {
  const std::string w = UpperCase(word);
  if (w.empty() || w == "LOCALSYSTEM") return std::string();
  if (w == "LOCALSERVICE") return std::string("NT AUTHORITY\\LocalService");
  if (w == "NETWORKSERVICE") return std::string("NT AUTHORITY\\NetworkService");
  return std::nullopt;
}

// The next comma-separated field of `rest`, trimmed; the rest after it.
std::string NextField(std::string& rest) {
  const std::size_t comma = rest.find(',');
  std::string field = Trim(rest.substr(0, comma));
  rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
  return field;
}

}  // namespace

std::optional<ServiceEntry> ParseServiceEntry(const FolderValues& folders, const std::string& name,
                                              const std::string& value, std::string& why) {
  ServiceEntry e;
  e.name = Trim(name);
  // The system's own limit, and no slash of either kind.
  if (e.name.empty() || e.name.size() > 256 || e.name.find_first_of("\\/") != std::string::npos) {
    why = "a service name is 1 to 256 characters without a slash";
    return std::nullopt;
  }
  std::string rest = value;
  std::string program = NextField(rest);
  ExpandMacros(folders, program);
  e.program = WindowsPath(Trim(program));
  if (!IsFullPath(e.program) || e.program.find('"') != std::string::npos || e.program.back() == '\\') {
    why = "its program must be a full path to a file";
    return std::nullopt;
  }
  e.config.command = "\"" + e.program + "\"";
  e.config.displayName = NextField(rest);
  if (e.config.displayName.empty()) e.config.displayName = e.name;
  const std::optional<ServiceStart> start = StartOf(NextField(rest));
  if (!start) {
    why = "its start type is auto, demand (manual) or disabled";
    return std::nullopt;
  }
  e.config.start = *start;
  const std::optional<std::string> account = AccountOf(NextField(rest));
  if (!account) {
    why = "its account is LocalSystem (empty), LocalService or NetworkService";
    return std::nullopt;
  }
  e.config.account = *account;
  // The description is the rest of the line, commas and all.
  e.config.description = Trim(rest);
  return e;
}

ServiceRemoval RemoveService(System& system, const InstalledService& service) {
  const std::optional<ServiceConfig> now = system.FindService(service.name);
  if (!now) return system.LastError().code == kErrorNoService ? ServiceRemoval::Gone : ServiceRemoval::Failed;
  if (!SameFileName(SplitProgram(now->command).program, service.program)) return ServiceRemoval::NotOurs;
  // One that does not stop in time still goes, once it has stopped.
  system.StopOneService(service.name);
  return system.DeleteOneService(service.name) ? ServiceRemoval::Removed : ServiceRemoval::Failed;
}

}  // namespace qv
