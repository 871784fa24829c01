#include "engine/folders.h"

#include "engine/errors.h"
#include "engine/text.h"

namespace qv {

void InitFolderValues(Platform& platform, FolderValues& folders, bool allUsers, bool native64) {
  folders.windows = platform.system.WindowsFolder();
  folders.system = platform.system.SystemFolder();
  folders.temp = platform.system.TempPath();
  if (!folders.temp.empty()) folders.temp.pop_back();

  folders.programFiles.clear();
  RegistryText r = platform.registry.ReadRegistryText(kHKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                             "ProgramFilesDir");
  if (r.status == RegistryText::Status::NotText)
    throw EngineError("Invalid data type for 'ProgramFilesDir'");
  if (r.status == RegistryText::Status::Text) folders.programFiles = r.text;

  if (!FolderExists(platform, folders.programFiles)) {
    char drive = folders.windows.empty() ? 'C' : folders.windows[0];
    folders.programFiles = std::string(1, drive) + ":\\Program Files";
  }
  if (native64) {
    const std::string native = platform.system.KnownFolderPath(KnownFolder::ProgramFilesNative);
    if (!native.empty()) folders.programFiles = native;
  }
  const auto known = [&platform](KnownFolder k) { return platform.system.KnownFolderPath(k); };
  using K = KnownFolder;
  // For all users the per-user places are the shared ones, so that what a
  // package puts there reaches everyone (as under a deployment tool's
  // system account it must).
  folders.commonAppData = known(K::CommonAppData);
  folders.localAppData = allUsers ? folders.commonAppData : known(K::LocalAppData);
  folders.appData = allUsers ? folders.commonAppData : known(K::AppData);
  folders.commonFiles = known(native64 ? K::CommonFilesNative : K::CommonFiles);
  folders.startMenu = known(allUsers ? K::CommonStartMenuPrograms : K::StartMenuPrograms);
  folders.desktop = known(allUsers ? K::CommonDesktop : K::Desktop);
  folders.startup = known(allUsers ? K::CommonStartup : K::Startup);
  folders.fonts = known(K::Fonts);
  folders.userProfile = known(K::Profile);
  folders.userPrograms = known(K::UserPrograms);
}

namespace {

// The macro names and the values behind them.
constexpr struct {
  const char* name;
  std::string FolderValues::*value;
} kMacros[] = {
    {"PROGRAMFILESDIR", &FolderValues::programFiles}, {"SYSTEMDIR", &FolderValues::system},
    {"WINDOWSDIR", &FolderValues::windows},           {"TEMPDIR", &FolderValues::temp},
    {"INSTALLDIR", &FolderValues::install},           {"LOCALAPPDATA", &FolderValues::localAppData},
    {"APPDATA", &FolderValues::appData},              {"COMMONAPPDATA", &FolderValues::commonAppData},
    {"COMMONFILESDIR", &FolderValues::commonFiles},   {"STARTMENU", &FolderValues::startMenu},
    {"DESKTOP", &FolderValues::desktop},              {"FONTSDIR", &FolderValues::fonts},
    {"USERPROFILE", &FolderValues::userProfile},
};

const std::string* Macro(const FolderValues& folders, const std::string& name) {
  const std::string key = UpperCase(Trim(name));
  for (const auto& m : kMacros)
    if (key == m.name) return &(folders.*m.value);
  return nullptr;
}

}  // namespace

std::string MacroValue(const FolderValues& folders, const std::string& name) {
  const std::string* value = Macro(folders, name);
  return value ? *value : std::string();
}

std::string UnsetMacro(const FolderValues& folders, const std::string& text) {
  // The names ExpandMacros meets, in its order.
  for (std::size_t p = 0; p + 1 < text.size();) {
    const std::size_t open = text.find('%', p);
    if (open == std::string::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string name = text.substr(open + 1, close - open - 1);
    const std::string* value = Macro(folders, name);
    if (value && value->empty()) return UpperCase(Trim(name));
    p = value ? close + 1 : close;
  }
  return {};
}

void ExpandMacros(const FolderValues& folders, std::string& text, std::vector<std::string>* names) {
  std::size_t p = 0;
  while (p + 1 < text.size()) {
    const std::size_t open = text.find('%', p);
    if (open == std::string::npos) return;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) return;
    const std::string name = text.substr(open + 1, close - open - 1);
    const std::string value = MacroValue(folders, name);
    if (!value.empty()) {
      if (names) names->push_back(UpperCase(Trim(name)));
      text.replace(open, close - open + 1, value);
      p = open + value.size();
    } else {
      // The closing sign of an unknown name may open the next macro.
      p = close;
    }
  }
}

bool FolderExists(Platform& platform, const std::string& path) {
  if (path.empty()) return false;
  const std::uint32_t a = platform.files.Attributes(path);
  return a != kNoAttributes && (a & kAttrDirectory) != 0;
}

bool CreateFolderPath(Platform& platform, const std::string& path) {
  if (path.empty()) throw EngineError("Unable to create directory");
  std::string dir = path;
  if (dir.back() == '\\') dir.pop_back();
  if (dir.size() < 3 || FolderExists(platform, dir)) return true;
  // Its parents would be made for nothing, as far down as the file system
  // lets them: the folder's own creation fails at once and says why.
  if (platform.system.LastError().code == kErrorPathTooLong) return platform.files.MakeFolder(dir);
  const std::string parent = FolderPart(dir);
  if (parent == dir) return true;
  // A bare relative name has no parent of its own to create.
  if (!parent.empty() && !CreateFolderPath(platform, parent)) return false;
  return platform.files.MakeFolder(dir);
}

}  // namespace qv
