#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <functional>
#include <optional>

#include "engine/command_line.h"
#include "engine/errors.h"
#include "engine/install_recorder.h"
#include "engine/logging_platform.h"
#include "engine/scope.h"
#include "engine/script.h"
#include "engine/setup_texts.h"
#include "engine/setup_engine.h"
#include "engine/uninstaller.h"
#include "framework/portable/file_name_case.h"
#include "package/pe_resources.h"
#include "tests/host/fakes.h"

namespace qv {
namespace {

constexpr char kProgram[] = "D:\\dist\\setup.exe";
constexpr char kFolder[] = "C:\\Program Files\\Demo";
constexpr char kUninstaller[] = "C:\\Program Files\\Demo\\uninstall.exe";

// Everything on the fake machine that an installation may touch.
struct Snapshot {
  std::map<std::string, std::string> files;  // path: content, or "<dir>"
  std::map<std::tuple<std::uint32_t, std::string, std::string>, std::vector<std::uint8_t>> values;
  std::set<std::pair<std::uint32_t, std::string>> keys;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(test::FakePlatform& m) {
  Snapshot s;
  for (const std::string& p : m.Tree("C:")) s.files[p] = m.IsFolder(p) ? "<dir>" : m.Content(p);
  for (const auto& [k, v] : m.registry) s.values[k] = v.data;
  s.keys = m.keys;
  return s;
}

struct Lines : RunLog {
  std::vector<std::string> lines;
  void Line(const std::string& t) override { lines.push_back(t); }
  bool Has(const std::string& line) const { return std::count(lines.begin(), lines.end(), line) > 0; }
  bool HasStart(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
  // A line that says both.
  bool Mentions(const std::string& one, const std::string& other) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.find(one) != std::string::npos && l.find(other) != std::string::npos;
    });
  }
};

void Install(test::FakePlatform& machine, const std::vector<std::string>& args = {},
             const std::optional<std::string>& folder = kFolder,
             const std::function<void(RunState&)>& onPump = nullptr, const Placement& placement = {},
             int failures = 0, test::RecordingWindow* shown = nullptr, RunLog* log = nullptr) {
  test::RecordingWindow own;
  test::RecordingWindow& window = shown ? *shown : own;
  RunState state;
  FolderValues folders;
  RunReport report;
  LoggingPlatform logged(machine, log, report);
  InstallRecorder recorder(logged, machine, log);
  recorder.SetUninstallerWriter(
      [](Platform& p, const std::string& to) { return p.files.CopyOneFile(kProgram, to); });
  SetupEngine engine(recorder, window, state, folders, kProgram);
  engine.SetRecordKeeper(&recorder);
  engine.SetPlacement(placement);
  engine.SetReport(&report);
  engine.SetLog(log);
  if (onPump) window.onPump = [&] { onPump(state); };
  engine.SetOptions(true, folder);
  engine.Run(args);
  recorder.Finish();
  ASSERT_EQ(report.failures, failures);
}

struct Uninstalled {
  RunReport report;
  bool loaded = false;
  test::RecordingWindow window;
  Lines log;
};

void Uninstall(test::FakePlatform& machine, Uninstalled& u, const std::string& program = kUninstaller) {
  RunState state;
  state.visible = false;
  Uninstaller uninstaller(machine, u.window, state, u.report, program);
  uninstaller.SetLog(&u.log);
  u.loaded = uninstaller.Read() == Uninstaller::Loaded::Yes && uninstaller.Load() == Uninstaller::Loaded::Yes;
  if (u.loaded) uninstaller.Run();
}

// What an uninstall leaves: the machine, but for the uninstaller's copies of
// itself, which go once it has ended.
Snapshot TakeLeft(test::FakePlatform& m) {
  Snapshot after = Take(m);
  for (const std::string& aside : m.privateFolders) {
    after.files.erase(aside + "\\UNINSTALL.EXE");
    after.files.erase(aside);
  }
  return after;
}

test::FakePlatform Machine() {
  test::FakePlatform m;
  m.AddFolder("C:\\Program Files");
  m.AddFolder("C:\\TEMP");
  m.AddFile(kProgram, "MZ setup");
  m.AddFile("D:\\dist\\app\\a.txt", "a");
  m.AddFile("D:\\dist\\app\\sub\\deep\\b.txt", "b");
  m.AddFile("D:\\dist\\font.ttf", "new font");
  m.AddFile("D:\\dist\\second.txt", "2");
  // There before: the installation replaces them; its uninstaller keeps them.
  m.AddFile("C:\\WINDOWS\\Fonts\\font.ttf", "old font");
  m.WriteRegistryValue(kHKCU, "Software\\Shared", "Mode", RegType::Text, {'o', 'l', 'd', 0});
  m.WriteRegistryValue(kHKLM, std::string(kRegistrationKey) + "Other", "DisplayName", RegType::Text, {'o', 0});
  return m;
}

constexpr char kScript[] =
    "[INSTALL]\r\nApp=app\\,?\r\nFont=font.ttf,%WINDOWSDIR%\\Fonts\r\n"
    "[REGISTRY]\r\n1=HKCU\\Software\\Demo\\Deep\\Path,%INSTALLDIR%\r\n2=HKCU\\Software\\Shared\\Mode,new\r\n"
    "[UNINSTALL]\r\nName=Demo\r\nVersion=1.0\r\n";

TEST(Uninstall, TakesAwayWhatTheInstallationsAddedAndNothingElse) {
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  const Snapshot before = Take(m);
  Install(m);
  EXPECT_EQ(m.Content("C:\\Program Files\\Demo\\sub\\deep\\b.txt"), "b");
  EXPECT_EQ(m.Content(kUninstaller), "MZ setup");
  const std::string reg = std::string(kRegistrationKey) + "Demo";
  EXPECT_EQ(m.FindRegistryValue(kHKLM, reg, "QuietUninstallString").value, true);
  // The same product again, with one file more: the record grows.
  m.AddFile("D:\\dist\\again.ini", std::string(kScript) + "[INSTALL]\r\nMore=second.txt,%INSTALLDIR%\\more\r\n");
  Install(m, {"again.ini"});
  EXPECT_EQ(m.Content("C:\\Program Files\\Demo\\more\\second.txt"), "2");
  // The person's data: a file of the installation changed since.
  m.AddFile("C:\\Program Files\\Demo\\a.txt", "edited");

  Uninstalled u;
  Uninstall(m, u);
  ASSERT_TRUE(u.loaded);
  // The changed file is the person's: kept and named, and the uninstall succeeded.
  EXPECT_EQ(ExitCodeOf(u.report, false), kExitOk);
  EXPECT_TRUE(u.log.Has("kept (changed since the installation): C:\\Program Files\\Demo\\a.txt"));
  Snapshot expected = before;
  expected.files["C:\\WINDOWS\\FONTS\\FONT.TTF"] = "new font";
  expected.values[{kHKCU, "SOFTWARE\\SHARED", "MODE"}] = {'n', 'e', 'w', 0};
  expected.files["C:\\PROGRAM FILES\\DEMO"] = "<dir>";
  expected.files["C:\\PROGRAM FILES\\DEMO\\A.TXT"] = "edited";
  Snapshot after = Take(m);
  // The uninstaller itself was moved out of the way, into a private folder.
  ASSERT_EQ(m.privateFolders.size(), 1u);
  const std::string aside = *m.privateFolders.begin();
  EXPECT_EQ(after.files.at(aside + "\\UNINSTALL.EXE"), "MZ setup");
  after.files.erase(aside + "\\UNINSTALL.EXE");
  after.files.erase(aside);
  EXPECT_EQ(after.files, expected.files);
  EXPECT_EQ(after.values, expected.values);
  EXPECT_EQ(after.keys, expected.keys);
}

// A file the person changed since the installation is his and stays, also
// when his edit kept its size: the uninstaller sees its time too.
TEST(Uninstall, AFileEditedToTheSameSizeSinceTheInstallationStays) {
  constexpr std::uint64_t kInstalled = 134000000000000000, kSavedLater = kInstalled + 600000000;
  const std::string a = std::string(kFolder) + "\\a.txt";
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  m.AddFile("D:\\dist\\app\\a.txt", "a", kAttrArchive, kInstalled);
  Install(m);
  ASSERT_EQ(m.ModifiedOf(a), kInstalled);
  m.AddFile(a, "A", kAttrArchive, kSavedLater);
  Uninstalled u;
  Uninstall(m, u);
  ASSERT_TRUE(u.loaded);
  EXPECT_EQ(m.Content(a), "A");
}

// A hidden run without a folder: the scope says where it goes, where the
// Start menu is and where it registers; its uninstaller finds it there.
TEST(Uninstall, WhereAnInstallationGoesFollowsItsScope) {
  const struct {
    Scope scope;
    Architecture architecture;
    bool elevated;
    const char* folder;
    const char* menu;
    std::uint32_t root;
  } kCases[] = {
      {Scope::User, Architecture::X86, false, "C:\\Users\\Ann\\AppData\\Local\\Programs\\App",
       "C:\\Users\\Ann\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Demo", kHKCU},
      {Scope::Machine, Architecture::X64, true, "C:\\Program Files\\App",
       "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Demo", kHKLM},
  };
  for (const auto& c : kCases) {
    test::FakePlatform m = Machine();
    m.elevated = c.elevated;
    // A 64-bit program's Program Files is not the one a 32-bit one sees.
    m.programFilesDir.text = "C:\\Program Files (x86)";
    m.AddFolder("C:\\Program Files (x86)");
    m.WriteRegistryValue(kHKCU, std::string(kRegistrationKey) + "Other", "DisplayName", RegType::Text, {'o', 0});
    m.AddFile("D:\\dist\\setup.ini",
              "[INSTALL]\r\nApp=app\\,?\r\nMenu=second.txt,%STARTMENU%\\Demo\r\n[UNINSTALL]\r\nName=Demo\r\n");
    const Snapshot before = Take(m);
    const RightsDecision d = DecideRights({.scope = c.scope, .architecture = c.architecture}, {}, {c.elevated, false, true});
    Install(m, {}, std::nullopt, nullptr, d.placement);
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(m.Content(std::string(c.folder) + "\\a.txt"), "a");
    EXPECT_EQ(m.Content(std::string(c.menu) + "\\second.txt"), "2");
    const std::string reg = std::string(kRegistrationKey) + "Demo";
    EXPECT_TRUE(m.FindRegistryValue(c.root, reg, "UninstallString").value);
    EXPECT_FALSE(m.FindRegistryValue(c.root == kHKLM ? kHKCU : kHKLM, reg, "UninstallString").value);

    m.nativeView = false;
    Uninstalled u;
    Uninstall(m, u, std::string(c.folder) + "\\uninstall.exe");
    ASSERT_TRUE(u.loaded);
    EXPECT_EQ(m.nativeView, c.architecture == Architecture::X64);
    Snapshot after = TakeLeft(m);
    EXPECT_EQ(after.values, before.values);
    EXPECT_EQ(after.keys, before.keys);
  }
}

// Shortcuts and a PATH entry come and go with the installation; the
// person's own shortcut, his shortcut changed since and his PATH stay.
TEST(Uninstall, ShortcutsAndPathEntriesGoAgainAndNothingOfThePersons) {
  test::FakePlatform m = Machine();
  const std::string menu = "C:\\Users\\Ann\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
  const std::string desktop = "C:\\Users\\Ann\\Desktop";
  m.AddFolder(desktop);
  m.AddFile(desktop + "\\mine.lnk", "the person's");
  // Long, expandable, with a name the system expands that means our folder.
  std::string path = "%SystemRoot%\\system32;";
  while (path.size() < 3000) path += "C:\\Tools\\t" + std::to_string(path.size()) + ";";
  path += "%SystemRoot%\\Demo\\bin\\";
  std::vector<std::uint8_t> data(path.begin(), path.end());
  data.push_back(0);
  m.WriteRegistryValue(kHKCU, "Environment", "Path", RegType::ExpandText, data);
  m.AddFile("D:\\dist\\setup.ini",
            "[INSTALL]\r\nApp=app\\,?\r\n"
            "[REGISTRY]\r\n1=HKCU\\Software\\Classes\\.demo\\,Demo.File\r\n"
            "[SHORTCUTS]\r\nDemo\\Demo Help=%INSTALLDIR%\\a.txt,STARTMENU,--help,,,,Opens, with care\r\n"
            "Demo=%INSTALLDIR%\\a.txt,Desktop\r\nBroken=,STARTMENU\r\n"
            "[PATH]\r\nBin=%INSTALLDIR%\\bin\r\nAgain=%WINDOWSDIR%\\Demo\\bin\r\n"
            "[UNINSTALL]\r\nName=Demo\r\n");
  const Placement user{Placement::For::User, Architecture::X86};
  Install(m, {}, kFolder, nullptr, user, 1);  // the broken shortcut
  EXPECT_EQ(m.Content(menu + "\\Demo\\Demo Help.lnk"),
            "lnk|C:\\Program Files\\Demo\\a.txt|--help||0|C:\\Program Files\\Demo|Opens, with care");
  EXPECT_TRUE(m.IsFile(desktop + "\\Demo.lnk"));
  const RegistryText after = m.ReadRegistryText(kHKCU, "Environment", "Path");
  EXPECT_TRUE(after.expandable);
  // Added once at the end; the folder that %SystemRoot% spells was there.
  EXPECT_EQ(after.text, path + ";C:\\Program Files\\Demo\\bin");
  const std::vector<std::pair<Change, std::string>> told = {
      {Change::Associations, ""}, {Change::Folder, menu + "\\Demo"}, {Change::Folder, desktop}, {Change::Environment, ""}};
  EXPECT_EQ(m.announced, told);
  Install(m, {}, kFolder, nullptr, user, 1);
  EXPECT_EQ(m.ReadRegistryText(kHKCU, "Environment", "Path").text, after.text);

  // The person puts an entry of his own before ours and points the
  // desktop shortcut elsewhere.
  std::string changed = "C:\\Mine;" + after.text;
  std::vector<std::uint8_t> bytes(changed.begin(), changed.end());
  bytes.push_back(0);
  m.WriteRegistryValue(kHKCU, "Environment", "Path", RegType::ExpandText, bytes);
  m.AddFile(desktop + "\\Demo.lnk", "lnk|C:\\Elsewhere\\x.exe", kAttrArchive, 99);
  m.announced.clear();
  Uninstalled u;
  Uninstall(m, u);
  ASSERT_TRUE(u.loaded);
  EXPECT_EQ(m.ReadRegistryText(kHKCU, "Environment", "Path").text, "C:\\Mine;" + path);
  EXPECT_TRUE(m.ReadRegistryText(kHKCU, "Environment", "Path").expandable);
  EXPECT_FALSE(m.IsFolder(menu + "\\Demo"));
  EXPECT_EQ(m.Content(desktop + "\\Demo.lnk"), "lnk|C:\\Elsewhere\\x.exe");
  EXPECT_EQ(m.Content(desktop + "\\mine.lnk"), "the person's");
  const std::vector<std::pair<Change, std::string>> toldAgain = {
      {Change::Folder, menu + "\\Demo"}, {Change::Environment, ""}, {Change::Associations, ""}};
  EXPECT_EQ(m.announced, toldAgain);
}

// Paths are read as the system reads them, '/' as a backslash and ".." as
// a step up, before they are checked or recorded: the uninstaller reads the
// record back and takes everything away, and a shortcut's name stays inside
// its place however it is spelled.
TEST(Uninstall, PathsAreReadAsTheSystemReadsThemBeforeTheyAreCheckedOrRecorded) {
  const std::string tail = "[UNINSTALL]\r\nName=Demo\r\n";
  const std::string demo = kFolder;
  const struct {
    std::string script;
    std::vector<std::string> commandLine;
    int failures;
    std::vector<std::pair<std::string, std::string>> made;  // path, content
    std::string uninstaller;
  } kCases[] = {
      {"[INSTALL]\r\nApp=app\\a.txt,C:\\T3c/sub\r\n" + tail + "Folder=C:\\T3c\r\n", {}, 0,
       {{"C:\\T3c\\sub\\a.txt", "a"}}, "C:\\T3c\\uninstall.exe"},
      {"[INSTALL]\r\nApp=app/,?\r\n" + tail, {"/S", "/D=C:/Program Files/Demo/"}, 0,
       {{demo + "\\sub\\deep\\b.txt", "b"}}, kUninstaller},
      {"[INSTALL]\r\nApp=app\\a.txt,C:\\T3\\x\\..\\sub/.\r\n" + tail + "Folder=C:/T3/x/../sub\r\n", {}, 0,
       {{"C:\\T3\\sub\\a.txt", "a"}}, "C:\\T3\\sub\\uninstall.exe"},
      {"[INSTALL]\r\nApp=app\\,?\r\n[SHORTCUTS]\r\nx/../../../escaped=%INSTALLDIR%\\a.txt,C:\\T3b/menu\r\n"
       "x/.../escaped=%INSTALLDIR%\\a.txt,C:\\T3b\\menu\r\nSub/Help=%INSTALLDIR%/a.txt,C:\\T3b/menu/\r\n"
       "[PATH]\r\nBin=%INSTALLDIR%/bin/\r\n" + tail,
       {"/S", "/D=" + demo}, 2,
       {{"C:\\T3b\\menu\\Sub\\Help.lnk", "lnk|" + demo + "\\a.txt|||0|" + demo + "|"}}, kUninstaller},
  };
  const Placement user{Placement::For::User, Architecture::X86};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.script);
    test::FakePlatform m = Machine();
    m.WriteRegistryValue(kHKCU, "Environment", "Path", RegType::ExpandText, {'C', ':', '\\', 'T', 0});
    m.AddFile("D:\\dist\\setup.ini", c.script);
    const Snapshot before = Take(m);
    const CommandLineOptions options = ParseOptions(c.commandLine);
    Install(m, options.scriptArgs, options.installDir, nullptr, user, c.failures);
    for (const auto& [path, content] : c.made) EXPECT_EQ(m.Content(path), content) << path;
    for (const std::string& path : m.Tree("C:")) EXPECT_EQ(path.find("ESCAPED"), std::string::npos) << path;
    if (c.script.find("[PATH]") != std::string::npos) {
      EXPECT_EQ(m.ReadRegistryText(kHKCU, "Environment", "Path").text, "C:\\T;" + demo + "\\bin\\");
    }

    Uninstalled u;
    Uninstall(m, u, c.uninstaller);
    ASSERT_TRUE(u.loaded);
    EXPECT_EQ(ExitCodeOf(u.report, false), kExitOk);
    Snapshot after = TakeLeft(m);
    EXPECT_EQ(after.files, before.files);
    EXPECT_EQ(after.values, before.values);
  }
}

// A script in English with a text of its own: the run shows them, and so
// does its uninstaller, which has only the record to go by.
TEST(Uninstall, TheRunAndItsUninstallerSpeakTheScriptsLanguage) {
  struct Restore {
    ~Restore() { texts::UseTexts(Language::Chinese, {}); }
  } chineseAgain;
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini",
            std::string(kScript) + "[SETUP]\r\nLanguage=auto\r\n[MESSAGES]\r\nfinished=All done.\r\nNoSuch=x\r\n");
  // What the program does before it makes its window.
  const ScriptReader script("D:\\dist\\setup.ini", [&m](const std::string& f) { return m.ReadWholeFile(f); });
  const std::optional<Language> language = LanguageFor(ReadSetupSection(script).language, false);
  ASSERT_EQ(language, Language::English);
  EXPECT_EQ(texts::UseTexts(*language, texts::ReadMessages(script)), std::vector<std::string>{"NoSuch"});
  test::RecordingWindow window;
  Install(m, {}, kFolder, nullptr, {}, 0, &window);
  EXPECT_EQ(window.statuses.back(), "All done.");
  EXPECT_EQ(window.screen.button, "OK");
  EXPECT_TRUE(std::count(window.statuses.begin(), window.statuses.end(), "Writing to the registry ..."));

  texts::UseTexts(Language::Chinese, {});  // a new process
  Uninstalled u;
  Uninstall(m, u);
  ASSERT_TRUE(u.loaded);
  EXPECT_EQ(u.window.statuses.back(), "Uninstall is complete.");
  EXPECT_EQ(u.window.screen.button, "OK");
}

TEST(Uninstall, AFileInUseGoesAtTheNextRestartWhenElevatedElseWaitsForAnotherRun) {
  for (const bool elevated : {false, true}) {
    SCOPED_TRACE(elevated ? "elevated" : "not elevated");
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\setup.ini", kScript);
    Install(m);
    const std::string held = std::string(kFolder) + "\\a.txt";
    m.heldFiles.insert(UpperCase(held));
    m.elevated = elevated;
    Uninstalled u;
    Uninstall(m, u);
    ASSERT_TRUE(u.loaded);
    EXPECT_EQ(ExitCodeOf(u.report, false), elevated ? kExitRestartNeeded : kExitEntryFailed);
    EXPECT_TRUE(m.IsFile(held));
    EXPECT_FALSE(m.IsFile(std::string(kFolder) + "\\sub\\deep\\b.txt"));
    EXPECT_EQ(std::count(m.restartRemovals.begin(), m.restartRemovals.end(), held), elevated ? 1 : 0);
    // Left for a restart, nothing is left for another run: no record, no registration.
    EXPECT_EQ(m.IsFile(std::string(kFolder) + "\\" + kRecordName), !elevated);
    EXPECT_EQ(m.FindRegistryValue(kHKLM, std::string(kRegistrationKey) + "Demo", "UninstallString").value, !elevated);
    if (elevated) continue;
    // Once the file is free, the uninstaller run again finishes the job.
    m.heldFiles.clear();
    Uninstalled again;
    Uninstall(m, again);
    ASSERT_TRUE(again.loaded);
    EXPECT_EQ(ExitCodeOf(again.report, false), kExitOk);
    EXPECT_FALSE(m.IsFolder(kFolder));
    EXPECT_FALSE(m.FindRegistryValue(kHKLM, std::string(kRegistrationKey) + "Demo", "").key);
  }
}

// The shell reading a shortcut's icon holds a file for a moment: such
// files are tried again for a short while, all together, before one held
// for long is left to the next restart.
TEST(Uninstall, AFileHeldForAMomentIsTriedAgainBeforeItIsLeftToTheRestart) {
  const struct {
    const char* what;
    std::optional<unsigned> heldMs;  // none: for good
    int exitCode;
  } cases[] = {
      {"held for a moment", 120, kExitOk},
      {"held for good", std::nullopt, kExitRestartNeeded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\app\\z.txt", "z");
    m.AddFile("D:\\dist\\setup.ini", kScript);
    Install(m);
    m.elevated = true;
    const std::vector<std::string> held = {std::string(kFolder) + "\\a.txt", std::string(kFolder) + "\\z.txt"};
    for (const std::string& h : held) {
      if (c.heldMs) m.heldUntil[UpperCase(h)] = m.paused + *c.heldMs;
      else m.heldFiles.insert(UpperCase(h));
    }
    const unsigned before = m.paused;
    Uninstalled u;
    Uninstall(m, u);
    ASSERT_TRUE(u.loaded);
    EXPECT_EQ(ExitCodeOf(u.report, false), c.exitCode);
    for (const std::string& h : held) {
      EXPECT_EQ(m.IsFile(h), !c.heldMs) << h;
      EXPECT_EQ(std::count(m.restartRemovals.begin(), m.restartRemovals.end(), h), c.heldMs ? 0 : 1) << h;
      EXPECT_EQ(u.log.Has("in use: " + h + ", removed at the next restart"), !c.heldMs) << h;
    }
    // A short while, however many files are held.
    EXPECT_LE(m.paused - before, 500u);
  }
}

TEST(Uninstall, AnUninstallerThatCannotMoveItselfAwayGoesAfterItHasEnded) {
  const struct {
    bool watcherStarts, elevated;
    int exitCode;
    std::vector<std::string> atRestart;  // beside the watcher's own folder
  } cases[] = {
      {true, true, kExitOk, {}},
      {false, true, kExitRestartNeeded, {kUninstaller, kFolder}},
      {false, false, kExitEntryFailed, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "watcher " << c.watcherStarts << ", elevated " << c.elevated);
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\setup.ini", kScript);
    Install(m);
    m.otherVolume = true;
    m.watcherStarts = c.watcherStarts;
    m.elevated = c.elevated;
    Uninstalled u;
    Uninstall(m, u);
    ASSERT_TRUE(u.loaded);
    EXPECT_EQ(ExitCodeOf(u.report, false), c.exitCode);
    EXPECT_TRUE(m.IsFile(kUninstaller));
    EXPECT_TRUE(m.IsFolder(kFolder));
    ASSERT_EQ(m.watchers.size(), 1u);
    if (!c.watcherStarts) {
      EXPECT_EQ(m.restartRemovals, c.atRestart);
      EXPECT_TRUE(m.privateFolders.empty() || !m.IsFolder(*m.privateFolders.begin()));
      continue;
    }
    // The watcher is the uninstaller's copy, in a private folder that goes
    // at the next restart; once the uninstaller has ended it takes the file
    // and the folder that stayed for it.
    ASSERT_EQ(m.privateFolders.size(), 1u);
    const std::vector<std::string> args = SplitCommandLine(m.watchers[0] + " 1234");
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(UpperCase(args[0]), *m.privateFolders.begin() + "\\UNINSTALL.EXE");
    EXPECT_EQ(m.Content(args[0]), "MZ setup");
    EXPECT_EQ(args[1], kSweepSwitch);
    const std::string aside = FolderPart(args[0]);
    EXPECT_EQ(m.restartRemovals, (std::vector<std::string>{args[0], aside.substr(0, aside.size() - 1)}));
    SweepAfter(m, args[2], {args.begin() + 3, args.end() - 1});
    EXPECT_FALSE(m.IsFile(kUninstaller));
    EXPECT_FALSE(m.IsFolder(kFolder));
    EXPECT_TRUE(m.IsFolder("C:\\Program Files"));
  }
}

TEST(Uninstall, InstallingAgainElsewhereMovesTheRecordWithEverythingItNames) {
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  const Snapshot before = Take(m);
  Install(m);
  Install(m, {}, "C:\\Apps\\Demo");
  // One record, one uninstaller: in the new folder.
  EXPECT_FALSE(m.IsFile(kUninstaller));
  EXPECT_FALSE(m.IsFile(std::string(kFolder) + "\\uninstall.dat"));
  ASSERT_TRUE(m.IsFile("C:\\Apps\\Demo\\uninstall.exe"));
  Uninstalled u;
  Uninstall(m, u, "C:\\Apps\\Demo\\uninstall.exe");
  ASSERT_TRUE(u.loaded);
  EXPECT_EQ(u.report.failures, 0);
  Snapshot after = TakeLeft(m);
  Snapshot expected = before;
  expected.files["C:\\WINDOWS\\FONTS\\FONT.TTF"] = "new font";
  expected.values[{kHKCU, "SOFTWARE\\SHARED", "MODE"}] = {'n', 'e', 'w', 0};
  EXPECT_EQ(after.files, expected.files);
  EXPECT_EQ(after.values, expected.values);
}

// A run that ends halfway, quit or killed, in its files or its registry
// values: the machine is as it was before it, an earlier installation of
// the product included. A killed run is undone by the next one, here its
// uninstaller, which then takes the earlier installation away.
TEST(Uninstall, ARunEndedHalfwayLeavesTheMachineAsItWas) {
  enum class End { Quit, Killed };
  const std::string a = std::string(kFolder) + "\\a.txt";
  for (const bool earlier : {false, true})
    for (const End end : {End::Quit, End::Killed})
      for (const bool inRegistry : {false, true}) {
        SCOPED_TRACE(std::string(earlier ? "over an earlier one, " : "") + (end == End::Quit ? "quit" : "killed") +
                     (inRegistry ? " in the registry" : " in the files"));
        test::FakePlatform m = Machine();
        m.AddFile("D:\\dist\\setup.ini", kScript);
        Snapshot pristine = Take(m);
        if (earlier) {
          Install(m);
          m.AddFile("D:\\dist\\app\\a.txt", "a2");
        }
        const Snapshot before = Take(m);
        const std::size_t from = m.events.size();
        std::optional<test::FakePlatform> killed;
        Install(m, {}, kFolder, [&](RunState& state) {
          const bool files = m.IsFile(a) && m.Content(a) == (earlier ? "a2" : "a");
          const bool value = std::count(m.events.begin() + static_cast<std::ptrdiff_t>(from), m.events.end(),
                                        "reg Software\\Demo\\Deep\\Path") > 0;
          if (state.finished || !(inRegistry ? value : files)) return;
          if (end == End::Killed) {
            killed = m;
            killed->heldProducts.clear();  // a killed run's claims go with it
          }
          state.finished = true;
        });
        if (end == End::Quit) {
          EXPECT_EQ(Take(m), before);
          continue;
        }
        ASSERT_TRUE(killed);
        Uninstalled u;
        Uninstall(*killed, u);
        ASSERT_TRUE(u.loaded);
        EXPECT_EQ(u.report.failures, 0);
        Snapshot after = Take(*killed);
        for (const std::string& aside : killed->privateFolders) {
          after.files.erase(aside + "\\UNINSTALL.EXE");
          after.files.erase(aside);
        }
        // What the earlier installation replaced stays as it installed it.
        if (earlier) {
          pristine.files["C:\\WINDOWS\\FONTS\\FONT.TTF"] = "new font";
          pristine.values[{kHKCU, "SOFTWARE\\SHARED", "MODE"}] = {'n', 'e', 'w', 0};
        }
        EXPECT_EQ(after, pristine);
      }
}

// A run killed while it writes a file leaves the file cut short; the undo
// of that run, by the product's next run or by its uninstaller, takes it
// away with the rest.
TEST(Uninstall, AFileAKilledRunWasWritingGoesWithItsUndo) {
  const std::string a = std::string(kFolder) + "\\a.txt";
  const std::string record = std::string(kFolder) + "\\uninstall.dat";
  for (const bool byUninstaller : {false, true}) {
    SCOPED_TRACE(byUninstaller ? "the uninstaller" : "the next run");
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\setup.ini", kScript);
    m.AddFile("D:\\dist\\next.ini", "[INSTALL]\r\nMore=second.txt,?\r\n[UNINSTALL]\r\nName=Demo\r\n");
    const Snapshot pristine = Take(m);
    std::optional<test::FakePlatform> killed;
    Install(m, {}, kFolder, [&](RunState& state) {
      // The record names the file before it is written.
      if (killed || m.IsFile(a) || !m.IsFile(record) || m.Content(record).find(a) == std::string::npos) return;
      killed = m;
      killed->heldProducts.clear();  // a killed run's claims go with it
      killed->AddFile(a, "a, cut");
      state.finished = true;
    });
    ASSERT_TRUE(killed) << "the run never came to the file";
    if (byUninstaller) {
      Uninstalled u;
      Uninstall(*killed, u);
      ASSERT_TRUE(u.loaded);
      EXPECT_EQ(TakeLeft(*killed), pristine);
    } else {
      Install(*killed, {"next.ini"});
      EXPECT_EQ(killed->Content(std::string(kFolder) + "\\second.txt"), "2");
      EXPECT_FALSE(killed->IsFile(a));
    }
  }
}

// Another product installed into the same folder keeps its own record and
// uninstaller: uninstalling either takes away only what it installed.
TEST(Uninstall, TwoProductsInOneFolderEachTakeOnlyTheirOwn) {
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  m.AddFile("D:\\dist\\other.ini", "[INSTALL]\r\nMore=second.txt,?\r\n[UNINSTALL]\r\nName=Other Product\r\n");
  const Snapshot before = Take(m);
  Install(m);
  Install(m, {"other.ini"});
  const std::string other = std::string(kFolder) + "\\uninstall-Other Product.exe";
  ASSERT_TRUE(m.IsFile(other));
  ASSERT_TRUE(m.IsFile(std::string(kFolder) + "\\uninstall-Other Product.dat"));
  Uninstalled first;
  Uninstall(m, first);
  ASSERT_TRUE(first.loaded);
  EXPECT_EQ(first.report.failures, 0);
  EXPECT_FALSE(m.IsFile(std::string(kFolder) + "\\a.txt"));
  EXPECT_EQ(m.Content(std::string(kFolder) + "\\second.txt"), "2");
  EXPECT_TRUE(m.FindRegistryValue(kHKLM, std::string(kRegistrationKey) + "Other Product", "UninstallString").value);
  EXPECT_FALSE(m.FindRegistryValue(kHKLM, std::string(kRegistrationKey) + "Demo", "UninstallString").key);
  Uninstalled second;
  Uninstall(m, second, other);
  ASSERT_TRUE(second.loaded);
  EXPECT_EQ(second.report.failures, 0);
  // The folder is the first product's, which could not take it while the
  // other was in it.
  EXPECT_EQ(m.Tree(kFolder), std::vector<std::string>{"C:\\PROGRAM FILES\\DEMO"});
}

// A silent run without a folder on its command line installs where the
// prompt would have suggested; a hidden run that can never learn the
// folder its record goes to stops before it makes anything.
TEST(Uninstall, ARecordGoesOnlyWhereTheInstallationFolderIsKnown) {
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  Install(m, {}, std::nullopt);
  EXPECT_EQ(m.Content("C:\\Program Files\\App\\a.txt"), "a");
  EXPECT_EQ(m.ReadRegistryText(kHKLM, std::string(kRegistrationKey) + "Demo", "InstallLocation").text,
            "C:\\Program Files\\App");

  m.AddFile("D:\\dist\\hidden.ini", std::string("[GUI]\r\nVisible=0\r\n") + kScript);
  const Snapshot before = Take(m);
  test::RecordingWindow window;
  RunState state;
  FolderValues folders;
  InstallRecorder recorder(m, m, nullptr);
  SetupEngine engine(recorder, window, state, folders, kProgram);
  engine.SetRecordKeeper(&recorder);
  EXPECT_THROW(engine.Run({"hidden.ini"}), EngineError);
  recorder.Finish();
  EXPECT_EQ(Take(m), before);
}

// A run that seems killed halfway steers the next run's undo only when the
// installation sealed its record: lines anybody else added, CRCs right,
// move nothing.
TEST(Uninstall, OnlyASealedRecordsUnfinishedRunIsUndone) {
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  m.AddFile("C:\\WINDOWS\\system32\\victim.dll", "system");
  Install(m);
  const std::string record = std::string(kFolder) + "\\uninstall.dat";
  const std::string victim = "C:\\WINDOWS\\system32\\victim.dll";
  m.AddFile(std::string(kFolder) + "\\payload.dll", "planted");
  m.AddFile(record, m.Content(record) + EncodeRecordEntry({.kind = RecordEntry::Kind::RunStart}) +
                        EncodeRecordEntry({.kind = RecordEntry::Kind::FileStart, .path = victim, .existed = true}) +
                        EncodeRecordEntry({.kind = RecordEntry::Kind::Aside,
                                           .path = victim,
                                           .name = std::string(kFolder) + "\\payload.dll"}));
  Install(m);
  EXPECT_EQ(m.Content(victim), "system");
}

// The seal a writer of the record would leave: the way an installation
// seals, for a record a forger could also have sealed.
void Seal(test::FakePlatform& m, std::string_view before, std::string_view now) {
  WriteSeal(m, {.id = "Demo", .name = "Demo", .registrationRoot = kHKLM},
            {{before.size(), Sha256Of(before)}, {now.size(), Sha256Of(now)}});
}

TEST(Uninstall, OnlyTheRecordTheInstallationSealedIsFollowed) {
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  m.AddFile("C:\\WINDOWS\\system32\\victim.dll", "system");
  Install(m);
  const std::string record = std::string(kFolder) + "\\uninstall.dat";
  const std::string whole = m.Content(record);
  const std::string victim =
      EncodeRecordEntry({.kind = RecordEntry::Kind::FileStart, .path = "C:\\WINDOWS\\system32\\victim.dll"});
  const std::string up = EncodeRecordEntry(
      {.kind = RecordEntry::Kind::FileStart, .path = std::string(kFolder) + "\\..\\..\\WINDOWS\\system32\\victim.dll"});
  enum Seals { Kept, Appending, Forged };
  struct Case {
    const char* what;
    std::string record;
    Seals seal;
    bool foreign;  // another account could have written the record
    bool loads;
  } cases[] = {
      {"as installed", whole, Kept, false, true},
      {"killed while appending a line", whole + victim.substr(0, 20), Appending, false, true},
      {"a line added, its CRC right", whole + victim, Kept, false, false},
      {"one byte changed", whole.substr(0, 60) + char(whole[60] ^ 1) + whole.substr(61), Kept, false, false},
      // Sealed again by whoever changed it: the line's own CRC tells.
      {"one byte changed, sealed again", whole.substr(0, 60) + char(whole[60] ^ 1) + whole.substr(61), Forged, false,
       false},
      {"no header", whole.substr(18), Forged, false, false},
      {"a path that steps out, sealed", whole + up, Forged, false, false},
      {"writable by another account", whole, Kept, true, false},
  };
  for (const Case& c : cases) {
    test::FakePlatform copy = m;
    copy.AddFile(record, c.record);
    if (c.seal == Appending) Seal(copy, whole, whole + victim);
    if (c.seal == Forged) Seal(copy, c.record, c.record);
    if (c.foreign) copy.foreignFiles.insert(UpperCase(record));
    Uninstalled u;
    Uninstall(copy, u);
    EXPECT_EQ(u.loaded, c.loads) << c.what;
    EXPECT_EQ(copy.IsFile(std::string(kFolder) + "\\a.txt"), !c.loads) << c.what;
    EXPECT_TRUE(copy.IsFile("C:\\WINDOWS\\system32\\victim.dll")) << c.what;
  }
  // Registered for one user: an elevated uninstaller trusts it only where
  // no unelevated program of the account could have written it (the
  // system, an administrator without the consent prompt); the installing
  // run was elevated too, as such accounts' runs are.
  const struct {
    bool elevated, limitedHalf, loads;
  } perUserCases[] = {{false, false, true}, {true, true, false}, {true, false, true}};
  for (const auto& c : perUserCases) {
    SCOPED_TRACE(testing::Message() << "elevated " << c.elevated << ", with a limited half " << c.limitedHalf);
    test::FakePlatform perUser = Machine();
    perUser.AddFile("D:\\dist\\setup.ini", kScript);
    perUser.refusedRoots.insert(kHKLM);
    perUser.elevated = c.elevated && !c.limitedHalf;
    Install(perUser, {}, kFolder, nullptr, {.forWhom = Placement::For::User});
    perUser.refusedRoots.clear();
    perUser.elevated = c.elevated;
    perUser.limitedHalf = c.limitedHalf;
    Uninstalled u;
    Uninstall(perUser, u);
    EXPECT_EQ(u.loaded, c.loads);
    EXPECT_EQ(perUser.IsFile(std::string(kFolder) + "\\a.txt"), !c.loads);
  }
}

// A path the record cannot name (a stream, a name of dots) is never
// written to: the run stops before it and leaves the machine as it was,
// rather than leave an installation whose uninstaller refuses its record.
TEST(Uninstall, WhatTheRecordCannotNameIsNeverWritten) {
  for (const char* folder : {"C:\\Out\\a.txt:hidden", "C:\\Out\\...\\App"}) {
    SCOPED_TRACE(folder);
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\setup.ini", kScript);
    const Snapshot before = Take(m);
    EXPECT_THROW(Install(m, {}, std::string(folder)), EngineError);
    EXPECT_EQ(Take(m), before);
  }
}

// A refused record is told in the installation's language, as what it is:
// the record is there and whole, only not to be trusted.
TEST(Uninstall, ARefusedRecordIsToldInTheInstallationsLanguage) {
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  texts::UseTexts(Language::English, {});  // as the program does from [SETUP] Language=en
  Install(m);
  texts::UseTexts(Language::Chinese, {});  // the uninstaller starts anew
  m.foreignFiles.insert(UpperCase(std::string(kFolder) + "\\" + kRecordName));
  RunState state;
  Uninstalled u;
  Uninstaller uninstaller(m, u.window, state, u.report, kUninstaller);
  ASSERT_EQ(uninstaller.Read(), Uninstaller::Loaded::Yes);
  EXPECT_EQ(uninstaller.Load(), Uninstaller::Loaded::NotTrusted);
  EXPECT_EQ(texts::Say(texts::Setup::Warning), "Warning");
  EXPECT_EQ(texts::Say(texts::Setup::RecordNotTrusted).rfind("The uninstall record cannot be trusted", 0), 0u);
  texts::UseTexts(Language::Chinese, {});
}

// Started by another name of its folder (a drive letter of its own, a
// share of the local disk): the same folder, removed as by its own name.
TEST(Uninstall, AnUninstallerStartedByAnotherNameOfItsFolderRemovesTheInstallation) {
  test::FakePlatform m = Machine();
  m.AddFile("D:\\dist\\setup.ini", kScript);
  Install(m);
  m.folderAliases[UpperCase("Z:\\drive_c\\Program Files\\Demo\\")] = std::string(kFolder) + "\\";
  for (const char* file : {"uninstall.exe", kRecordName})
    m.AddFile(std::string("Z:\\drive_c\\Program Files\\Demo\\") + file,
              m.Content(std::string(kFolder) + "\\" + file));
  Uninstalled u;
  Uninstall(m, u, "Z:\\drive_c\\Program Files\\Demo\\uninstall.exe");
  ASSERT_TRUE(u.loaded);
  EXPECT_FALSE(m.IsFile(std::string(kFolder) + "\\a.txt"));
  EXPECT_FALSE(m.FindRegistryValue(kHKLM, std::string(kRegistrationKey) + "Demo", "UninstallString").value);
}

// A reinstallation killed halfway had named where each file of a folder
// would go aside before it moved any. Its undo puts back only what it
// moved there, as it was moved; whatever else has such a name stays where
// it is and is named in the log.
TEST(Uninstall, AKilledRunsUndoPutsBackOnlyWhatItMovedAside) {
  enum class Tamper { StrangersFile, OlderRecord, AsideChanged, KilledBeforeItsLine };
  const struct {
    const char* what;
    Tamper tamper;
    bool putBack;  // a.txt's earlier content, moved aside before the kill
    int failures;
  } cases[] = {
      {"a stranger's file under a name the run never moved to", Tamper::StrangersFile, true, 0},
      // Lines from before moves were confirmed: none is known to have been moved.
      {"a record from before moves were confirmed", Tamper::OlderRecord, false, 0},
      {"what was moved aside changed since", Tamper::AsideChanged, false, 1},
      // Killed between moving a.txt aside and its line: its place is empty.
      {"a file moved aside just before the kill", Tamper::KilledBeforeItsLine, true, 0},
  };
  const std::string a = std::string(kFolder) + "\\a.txt", z = std::string(kFolder) + "\\z.txt";
  const std::string record = std::string(kFolder) + "\\uninstall.dat";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\app\\z.txt", "z");
    m.AddFile("D:\\dist\\setup.ini", kScript);
    Install(m);
    m.AddFile("D:\\dist\\app\\a.txt", "a2");
    m.AddFile("D:\\dist\\app\\z.txt", "z2");
    std::optional<test::FakePlatform> killed;
    Install(m, {}, kFolder, [&](RunState& state) {
      if (killed || m.Content(a) != "a2") return;
      killed = m;
      killed->heldProducts.clear();  // a killed run's claims go with it
      state.finished = true;
    });
    ASSERT_TRUE(killed);
    test::FakePlatform& k = *killed;
    const std::optional<std::vector<RecordEntry>> entries = ParseRecord(k.Content(record));
    ASSERT_TRUE(entries);
    std::map<std::string, std::string> aside;  // the names the record gave
    for (const RecordEntry& e : *entries)
      if (e.kind == RecordEntry::Kind::Aside) aside[e.path] = e.name;
    ASSERT_TRUE(aside.count(a) && aside.count(z));
    ASSERT_EQ(k.Content(aside[a]), "a");
    ASSERT_FALSE(k.IsFile(aside[z]));
    // Anybody who may create files in the folder.
    k.AddFile(aside[z], "planted");
    if (c.tamper == Tamper::OlderRecord) {
      std::string older;
      const std::string bytes = k.Content(record);
      for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", at) + 2;
        const std::string line = bytes.substr(at, end - at);
        if (line.compare(9, 2, "M\t") != 0) older += line;
        at = end;
      }
      k.AddFile(record, older);
      Seal(k, older, older);
    }
    if (c.tamper == Tamper::AsideChanged) k.AddFile(aside[a], "tampered", kAttrArchive, k.ModifiedOf(aside[a]));
    if (c.tamper == Tamper::KilledBeforeItsLine) {
      // The record as it was the moment a.txt went aside: up to its M line.
      const std::string bytes = k.Content(record);
      const std::size_t line = bytes.rfind("\r\n", bytes.find("M\t" + a + "\t")) + 2;
      const std::string cut = bytes.substr(0, line);
      k.AddFile(record, cut);
      Seal(k, cut, cut);
      ASSERT_TRUE(k.DeleteOneFile(a));
    }
    const std::string leftA = k.Content(aside[a]);

    Uninstalled u;
    Uninstall(k, u);
    ASSERT_TRUE(u.loaded);
    EXPECT_EQ(u.report.failures, c.failures);
    EXPECT_EQ(u.log.Has("undo: put back: " + a), c.putBack);
    EXPECT_FALSE(u.log.Has("undo: put back: " + z));
    // The earlier installation's z.txt, untouched by the killed run, goes.
    EXPECT_FALSE(k.IsFile(z));
    EXPECT_EQ(k.Content(aside[z]), "planted");
    EXPECT_TRUE(u.log.Mentions("left where it is", aside[z]));
    if (c.putBack) {
      EXPECT_FALSE(k.IsFile(a));  // put back, then uninstalled with the earlier installation
      EXPECT_FALSE(k.IsFile(aside[a]));
    } else {
      EXPECT_EQ(k.Content(a), "a2");
      EXPECT_EQ(k.Content(aside[a]), leftA);
      EXPECT_TRUE(u.log.Mentions("left where it is", aside[a]));
    }
  }
}

// What the log says of a replaced file's earlier content is what happened
// to it: the move's own error, and nothing when there was nothing to keep.
TEST(Uninstall, TheLineOnAReplacedFilesEarlierContentTellsWhatHappened) {
  const std::string a = std::string(kFolder) + "\\a.txt", z = std::string(kFolder) + "\\z.txt";
  const struct {
    const char* what;
    bool held;  // else removed by someone just before its turn
    std::string line;
  } cases[] = {
      {"held by a program", true,
       "previous content not kept (error 32: The process cannot access the file because it is being used by "
       "another process.): " + z},
      {"gone before its turn", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\app\\z.txt", "z");
    m.AddFile("D:\\dist\\setup.ini", kScript);
    Install(m);
    m.AddFile("D:\\dist\\app\\a.txt", "a2");
    m.elevated = true;  // a held file is replaced at the restart
    if (c.held) m.heldFiles.insert(UpperCase(z));
    Lines log;
    Install(m, {}, kFolder, [&](RunState&) {
      if (!c.held && m.Content(a) == "a2" && m.IsFile(z)) m.DeleteOneFile(z);
    }, {}, 0, nullptr, &log);
    EXPECT_EQ(log.HasStart("previous content not kept"), !c.line.empty());
    EXPECT_TRUE(c.line.empty() || log.Has(c.line));
  }
}

TEST(Uninstall, FieldsOfAnyKindReadBackAsWritten) {
  RecordEntry value{
      .kind = RecordEntry::Kind::Value, .path = "Software\\%x\tA\r\n", .root = kHKCU, .name = "na\x01me %41", .existed = true};
  RecordEntry file{.kind = RecordEntry::Kind::File, .path = "C:\\d\\\xE6\x96\x87.txt", .size = 18446744073709551615u, .modified = 7};
  // A value's earlier data, binary with zeros and line ends in it.
  RecordEntry before{.kind = RecordEntry::Kind::Before,
                     .path = "K",
                     .root = kHKLM,
                     .name = "v",
                     .existed = true,
                     .type = 7,
                     .data = std::string("a\0\r\n\xFF", 5)};
  const std::string bytes = std::string(kRecordHeader) + EncodeRecordEntry(value) + EncodeRecordEntry(file) +
                            EncodeRecordEntry(before);
  const auto parsed = ParseRecord(bytes);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 3u);
  EXPECT_EQ((*parsed)[2].data, before.data);
  EXPECT_EQ((*parsed)[2].type, 7u);
  EXPECT_EQ((*parsed)[0].path, value.path);
  EXPECT_EQ((*parsed)[0].name, value.name);
  EXPECT_TRUE((*parsed)[0].existed);
  EXPECT_EQ((*parsed)[1].path, file.path);
  EXPECT_EQ((*parsed)[1].size, file.size);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// One run of a package over whatever the machine holds, as a person (shown,
// taking the folder suggested) or a deployment tool (/S, no /D=) starts it.
struct SetupRun {
  RunReport report;
  test::RecordingWindow window;
  Lines log;
  std::string suggested;  // what the folder prompt showed
  int exitCode = -1;
};

void RunSetup(test::FakePlatform& m, SetupRun& r, bool shown, const std::optional<std::string>& folder = std::nullopt,
              bool allowDowngrade = false) {
  RunState state;
  FolderValues folders;
  LoggingPlatform logged(m, &r.log, r.report);
  InstallRecorder recorder(logged, m, &r.log);
  recorder.SetUninstallerWriter([](Platform& p, const std::string& to) { return p.files.CopyOneFile(kProgram, to); });
  SetupEngine engine(recorder, r.window, state, folders, kProgram);
  engine.SetRecordKeeper(&recorder);
  engine.SetPlacement({Placement::For::User, Architecture::X86});
  engine.SetReport(&r.report);
  engine.SetLog(&r.log);
  engine.SetOptions(!shown, folder);
  engine.AllowDowngrade(allowDowngrade);
  r.window.onPump = [&] {
    if (!state.awaitingPath) return;
    r.suggested = r.window.pathText;
    state.awaitingPath = false;
  };
  try {
    engine.Run({});
  } catch (const EngineError& e) {
    r.log.Line(std::string("error: ") + e.what());
    r.report.error = true;
  }
  recorder.Finish();
  r.exitCode = ExitCodeOf(r.report, state.userQuit);
}

constexpr char kCustom[] = "C:\\Custom\\Demo";
constexpr char kDesktop[] = "C:\\Users\\Ann\\Desktop";

std::string Release(const std::string& version, bool first) {
  return std::string("[INSTALL]\r\nApp=app\\,?\r\n[REGISTRY]\r\n1=HKCU\\Software\\Demo\\Keep,1\r\n") +
         (first ? "2=HKCU\\Software\\Demo\\Old\\Gone,1\r\n" : "") + "[SHORTCUTS]\r\nDemo=%INSTALLDIR%\\a.txt,Desktop\r\n" +
         (first ? "Old=%INSTALLDIR%\\obsolete.txt,Desktop\r\n" : "") + "[PATH]\r\nBin=%INSTALLDIR%\\bin\r\n" +
         (first ? "Old=%INSTALLDIR%\\old\r\n" : "") + "[SETUP]\r\nPublisher=Acme\r\n[UNINSTALL]\r\nName=Demo\r\nId=Demo\r\nVersion=" +
         version + "\r\n" +
         // Links an update drops go from the list of programs with it.
         (first ? "HelpLink=https://acme.example/help\r\n" : "URLInfoAbout=https://acme.example\r\nDisplayIcon=%INSTALLDIR%\\a.txt,0\r\n");
}

// The package folder of version 1.0 or 1.1.
void Ship(test::FakePlatform& m, const std::string& version) {
  const bool first = version == "1.0";
  m.AddFile("D:\\dist\\setup.ini", Release(version, first));
  m.AddFile("D:\\dist\\app\\a.txt", first ? "a" : "a2", kAttrArchive, first ? 1 : 2);
  if (first) {
    m.DeleteOneFile("D:\\dist\\app\\new.txt");
    m.AddFile("D:\\dist\\app\\obsolete.txt", "o");
    m.AddFile("D:\\dist\\app\\mine.txt", "m");
    m.AddFile("D:\\dist\\app\\old\\x.txt", "x");
  } else {
    m.DeleteOneFile("D:\\dist\\app\\obsolete.txt");
    m.DeleteOneFile("D:\\dist\\app\\mine.txt");
    m.DeleteOneFile("D:\\dist\\app\\old\\x.txt");
    m.RemoveFolder("D:\\dist\\app\\old");
    m.AddFile("D:\\dist\\app\\new.txt", "n");
  }
}

// The machine but for what differs between two installations of the same
// files by nature: the record's lines and its seal.
Snapshot Installed(test::FakePlatform& m) {
  Snapshot s = Take(m);
  std::erase_if(s.files, [](const auto& f) { return f.first.ends_with("\\UNINSTALL.DAT"); });
  std::erase_if(s.values, [](const auto& v) { return std::get<2>(v.first) == FileNameKey(kSealValue); });
  return s;
}

// Version 1.1 over 1.0 in a folder of the person's choosing: it lands
// there, shown or silent, and leaves the machine as a fresh installation
// of 1.1 would, but for the file the person changed; its uninstaller then
// leaves nothing of either. An older version stops before writing
// anything, unless allowed; the same version again repairs.
TEST(Update, LandsWhereTheProductIsAndLeavesNothingOfTheEarlierVersion) {
  for (const bool shown : {false, true}) {
    SCOPED_TRACE(shown ? "shown" : "silent");
    test::FakePlatform m = Machine();
    m.AddFolder(kDesktop);
    const Snapshot pristine = Take(m);
    Ship(m, "1.0");
    SetupRun first;
    RunSetup(m, first, false, kCustom);
    ASSERT_EQ(first.exitCode, kExitOk);
    ASSERT_TRUE(m.IsFile(std::string(kCustom) + "\\obsolete.txt"));
    ASSERT_TRUE(m.IsFile(std::string(kDesktop) + "\\Old.lnk"));
    m.AddFile(std::string(kCustom) + "\\mine.txt", "the person's", kAttrArchive, 99);

    Ship(m, "1.1");
    SetupRun update;
    RunSetup(m, update, shown);
    EXPECT_EQ(update.exitCode, kExitOk);
    EXPECT_EQ(update.suggested, shown ? kCustom : "");
    EXPECT_TRUE(update.log.HasStart("update: kept (changed since the installation): " + std::string(kCustom)));
    Snapshot updated = Installed(m);
    const std::string registration = std::string(kRegistrationKey) + "Demo";
    EXPECT_EQ(m.ReadRegistryText(kHKCU, registration, "Publisher").text, "Acme");
    EXPECT_EQ(m.ReadRegistryText(kHKCU, registration, "URLInfoAbout").text, "https://acme.example");
    EXPECT_EQ(m.ReadRegistryText(kHKCU, registration, "DisplayIcon").text, std::string(kCustom) + "\\a.txt,0");
    EXPECT_FALSE(m.ReadStoredValue(kHKCU, registration, "HelpLink"));

    // The same 1.1, installed fresh where 1.0 was.
    test::FakePlatform fresh = Machine();
    fresh.AddFolder(kDesktop);
    Ship(fresh, "1.0");
    Ship(fresh, "1.1");
    SetupRun clean;
    RunSetup(fresh, clean, false, kCustom);
    fresh.AddFile(std::string(kCustom) + "\\mine.txt", "the person's", kAttrArchive, 99);
    Snapshot expected = Installed(fresh);
    for (const auto& [path, content] : Take(m).files)
      if (path.starts_with("D:")) expected.files[path] = content;
    EXPECT_EQ(updated.files, expected.files);
    EXPECT_EQ(updated.values, expected.values);
    EXPECT_EQ(updated.keys, expected.keys);

    // An older version: refused before anything is written, unless allowed.
    Ship(m, "1.0");
    const Snapshot before = Take(m);
    SetupRun older;
    RunSetup(m, older, shown);
    EXPECT_EQ(older.exitCode, kExitNewerInstalled);
    EXPECT_EQ(Take(m), before);
    SetupRun allowed;
    RunSetup(m, allowed, false, std::nullopt, true);
    EXPECT_EQ(allowed.exitCode, kExitOk);
    EXPECT_EQ(m.ReadRegistryText(kHKCU, std::string(kRegistrationKey) + "Demo", "DisplayVersion").text, "1.0");
    EXPECT_TRUE(m.IsFile(std::string(kCustom) + "\\obsolete.txt"));
    EXPECT_FALSE(m.IsFile(std::string(kCustom) + "\\new.txt"));

    // The same version again puts back what went missing.
    m.DeleteOneFile(std::string(kCustom) + "\\a.txt");
    SetupRun repair;
    RunSetup(m, repair, false);
    EXPECT_EQ(repair.exitCode, kExitOk);
    EXPECT_EQ(m.Content(std::string(kCustom) + "\\a.txt"), "a");

    Uninstalled u;
    Uninstall(m, u, std::string(kCustom) + "\\uninstall.exe");
    ASSERT_TRUE(u.loaded);
    EXPECT_EQ(u.report.failures, 0);
    Snapshot left = TakeLeft(m);
    std::erase_if(left.files, [](const auto& f) { return f.first.starts_with("D:"); });
    Snapshot expectedLeft = pristine;
    std::erase_if(expectedLeft.files, [](const auto& f) { return f.first.starts_with("D:"); });
    expectedLeft.files["C:\\CUSTOM"] = "<dir>";
    expectedLeft.files["C:\\CUSTOM\\DEMO"] = "<dir>";
    // 1.0 again put its own over the person's file, which was there before it.
    expectedLeft.files["C:\\CUSTOM\\DEMO\\MINE.TXT"] = "m";
    EXPECT_EQ(left.files, expectedLeft.files);
    EXPECT_EQ(left.values, expectedLeft.values);
  }
}

// A real program's bytes with its version resource's file version: the
// stand-in as windres made it (1.0.0.0), or with qvpack's version resource.
std::string ProgramOfVersion(const std::string& version) {
  std::ifstream in(QV_STUB_PROGRAM, std::ios::binary);
  const std::string stub((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (version == "1.0.0.0") return stub;
  pack::Identity identity;
  identity.version.emplace().fileVersion = version;
  identity.version->productVersion = version;
  std::string out;
  EXPECT_EQ(pack::ReplaceResources(stub, identity, out), "");
  return out;
}

TEST(Uninstall, EntryFlagsAndGeneratedFilesDecideWhatStaysAndWhatGoes) {
  const std::string dir = kFolder;
  const std::string v1 = ProgramOfVersion("1.0.0.0"), v2 = ProgramOfVersion("2.0.0.0"),
                    v3 = ProgramOfVersion("3.0.0.0");
  ASSERT_NE(v1, v2);
  const std::string script =
      "[INSTALL]\r\nApp=app\\,?\r\nConf=conf\\*.ini,%INSTALLDIR%\\conf,onlyifnew\r\n"
      "Shared=shared.dat,%INSTALLDIR%\\shared,KEEP\r\nLib=lib\\,%INSTALLDIR%\\lib, IFNEWER ,KEEP\r\n"
      "[UNINSTALLDELETE]\r\nCache=%INSTALLDIR%\\cache\r\nLogs=%INSTALLDIR%\\logs\\*.log\r\n"
      "Outside=%INSTALLDIR%\\..\\Elsewhere\\*.*\r\nNothing=%INSTALLDIR%\\none\\*.tmp\r\n"
      "Linked=%INSTALLDIR%\\linked\\*.log\r\n"
      "[UNINSTALL]\r\nName=Demo\r\n";
  const auto machine = [&] {
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\setup.ini", script);
    m.AddFile("D:\\dist\\conf\\settings.ini", "shipped settings");
    m.AddFile("D:\\dist\\conf\\defaults.ini", "defaults");
    m.AddFile("D:\\dist\\shared.dat", "shared");
    const struct {
      const char* name;
      std::string shipped, there;
      std::uint64_t shippedTime, thereTime;
    } lib[] = {
        {"newer.dll", v2, v1, 10, 90},  // a newer version, though an older time
        {"older.dll", v1, v3, 90, 10},  // an older one, though a newer time
        {"same.dll", v2, v2, 90, 10},
        {"later.txt", "later", "earlier", 90, 10},  // no version: by time
        {"earlier.txt", "earlier", "later", 10, 90},
        {"versionless.dll", "none", v3, 90, 10},  // a version on one side only: by time
    };
    for (const auto& f : lib) {
      m.AddFile("D:\\dist\\lib\\" + std::string(f.name), f.shipped, kAttrArchive, f.shippedTime);
      m.AddFile(dir + "\\lib\\" + f.name, f.there, kAttrArchive, f.thereTime);
    }
    m.AddFile(dir + "\\conf\\settings.ini", "edited settings");  // the person's
    m.AddFile("C:\\Program Files\\Elsewhere\\mine.log", "not ours");
    return m;
  };

  // Quit halfway: the undo takes back what the run wrote, KEEP or not.
  {
    test::FakePlatform m = machine();
    const Snapshot before = Take(m);
    Install(m, {}, kFolder, [&](RunState& state) {
      if (m.IsFile(dir + "\\shared\\shared.dat")) state.finished = true;
    });
    EXPECT_EQ(Take(m), before);
  }

  test::FakePlatform m = machine();
  Lines log;
  Install(m, {}, kFolder, nullptr, {}, 1, nullptr, &log);
  const struct {
    std::string file, content;
  } installed[] = {
      {"conf\\settings.ini", "edited settings"}, {"conf\\defaults.ini", "defaults"},
      {"shared\\shared.dat", "shared"},          {"lib\\newer.dll", v2},
      {"lib\\older.dll", v3},                    {"lib\\same.dll", v2},
      {"lib\\later.txt", "later"},               {"lib\\earlier.txt", "later"},
      {"lib\\versionless.dll", "none"},
  };
  for (const auto& f : installed) EXPECT_EQ(m.Content(dir + "\\" + f.file), f.content) << f.file;
  EXPECT_TRUE(log.Has("kept: exists: " + dir + "\\conf\\settings.ini"));
  EXPECT_TRUE(log.Mentions("2.0.0.0 against 1.0.0.0", "newer.dll"));
  EXPECT_TRUE(log.Mentions("kept: not newer, version 1.0.0.0 against 3.0.0.0", "older.dll"));
  EXPECT_TRUE(log.Mentions("kept: not newer, modified 10 against 90", "earlier.txt"));
  EXPECT_TRUE(log.Mentions("[UNINSTALLDELETE] Outside refused", "Elsewhere"));
  // The left files are not written by the run, but counted on the bar.
  const auto copies = [&](const std::string& file) {
    return std::count(m.events.begin(), m.events.end(), "copy D:\\dist\\" + file + " > " + dir + "\\" + file);
  };
  EXPECT_EQ(copies("lib\\newer.dll"), 1);
  for (const char* left : {"conf\\settings.ini", "lib\\older.dll", "lib\\same.dll", "lib\\earlier.txt"})
    EXPECT_EQ(copies(left), 0) << left;

  // The same installation again: what it leaves stays the installation's.
  Install(m, {}, kFolder, nullptr, {}, 1);
  EXPECT_EQ(m.Content(dir + "\\conf\\defaults.ini"), "defaults");

  // What the program made as it ran, a link among it to a folder outside.
  m.AddFile(dir + "\\cache\\a\\b\\c.bin", "c");
  m.AddFile(dir + "\\cache\\d.bin", "d");
  m.AddFile("C:\\Precious\\keep.txt", "precious");
  m.AddJunction(dir + "\\cache\\a\\link", "C:\\Precious");
  m.AddFile(dir + "\\logs\\1.log", "1");
  m.AddFile(dir + "\\logs\\2.log", "2");
  m.AddJunction(dir + "\\logs\\3.log", "C:\\Precious");  // a folder link the wildcard matches: not a file
  m.AddFile("C:\\Precious\\p.log", "precious");
  m.AddJunction(dir + "\\linked", "C:\\Precious");  // a wildcard's folder put there as a link
  Uninstalled u;
  Uninstall(m, u);
  ASSERT_TRUE(u.loaded);
  EXPECT_EQ(u.report.failures, 1);  // the linked folder, not entered
  EXPECT_TRUE(u.log.HasStart("not entered (reached through a link): " + dir + "\\linked\\"));
  EXPECT_EQ(m.Content("C:\\Precious\\p.log"), "precious");
  EXPECT_FALSE(m.IsFolder(dir + "\\cache"));
  EXPECT_TRUE(u.log.Mentions("removed (a link, not entered): " + dir + "\\cache\\", "\\link"));
  EXPECT_EQ(m.Content("C:\\Precious\\keep.txt"), "precious");
  EXPECT_FALSE(m.IsFile(dir + "\\logs\\1.log"));
  EXPECT_FALSE(m.IsFile(dir + "\\logs\\2.log"));
  EXPECT_EQ(m.Content("C:\\Program Files\\Elsewhere\\mine.log"), "not ours");
  // Kept: KEEP files, and those there before; gone: what the run wrote.
  EXPECT_EQ(m.Content(dir + "\\shared\\shared.dat"), "shared");
  EXPECT_EQ(m.Content(dir + "\\lib\\later.txt"), "later");
  EXPECT_EQ(m.Content(dir + "\\conf\\settings.ini"), "edited settings");
  EXPECT_FALSE(m.IsFile(dir + "\\conf\\defaults.ini"));
  EXPECT_FALSE(m.IsFile(dir + "\\a.txt"));
  EXPECT_FALSE(m.IsFile(kUninstaller));
}

}  // namespace
}  // namespace qv
