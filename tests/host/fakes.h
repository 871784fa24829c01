// An in-memory machine and a window that records what the engine asks of it.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/platform.h"
#include "engine/setup_window.h"
#include "engine/text.h"

namespace qv::test {

class FakePlatform : public FileSystem, public Registry, public Shell, public Rights, public System {
 public:
  FakePlatform();
  // The machine as the engine takes it: every part of it is this one.
  operator Platform&() { return AsPlatform(); }  // NOLINT
  Platform& AsPlatform() {
    if (!self_.platform) self_.platform = std::make_unique<Platform>(Platform{*this, *this, *this, *this, *this});
    return *self_.platform;
  }

  // Set-up helpers; paths are full Windows paths.
  void AddFolder(const std::string& path, std::uint32_t attributes = kAttrDirectory);
  void AddFile(const std::string& path, const std::string& content,
               std::uint32_t attributes = kAttrArchive, std::uint64_t modified = 0);
  // A junction at `link` to the folder `target`: a search in it lists the
  // target's; a delete or folder removal through it fails as the machine's
  // does (kErrorReachedThroughLink); removing the link itself leaves the target.
  void AddJunction(const std::string& link, const std::string& target);
  std::map<std::string, std::string> junctions;  // upper case: link -> target
  bool IsFolder(const std::string& path) const;
  bool IsFile(const std::string& path) const;
  std::string Content(const std::string& path) const;
  std::uint32_t AttributesOf(const std::string& path) const;
  std::uint64_t ModifiedOf(const std::string& path) const;
  // Every path under a folder (upper case), the folder itself included.
  std::vector<std::string> Tree(const std::string& folder) const;

  std::string windowsFolder = "C:\\WINDOWS";
  std::string systemFolder = "C:\\WINDOWS\\system32";
  std::string tempPath = "C:\\TEMP\\";
  RegistryText programFilesDir{RegistryText::Status::Text, "C:\\Program Files"};

  std::set<std::string> failingFolders;  // MakeFolder fails for these (upper case)
  std::set<std::string> failingCopies;   // CopyOneFile fails for these sources
  std::set<std::string> failingSearches;  // FindFirst cannot search these patterns (upper case)
  std::set<std::string> heldFiles;        // open elsewhere: RemoveTree leaves their folder (upper case)
  // Open elsewhere for a moment: until `paused` reaches the number (upper case).
  std::map<std::string, unsigned> heldUntil;
  std::size_t diskSpace = static_cast<std::size_t>(-1);  // bytes WriteFileFrom may write per file
  // The fake machine keeps ANSI bytes as they are unless a test says how.
  std::function<std::string(unsigned, std::string_view)> decode;
  bool registryKeysOpen = true;
  bool registryWritesFail = false;
  std::set<std::uint32_t> refusedRoots;  // writes under these roots are refused

  struct RegValue {
    RegType type;
    std::vector<std::uint8_t> data;
  };
  std::map<std::tuple<std::uint32_t, std::string, std::string>, RegValue> registry;
  std::vector<std::pair<std::string, int>> started;
  std::vector<std::string> startedIn;  // each started program's working folder
  bool elevated = false;
  std::set<std::string> foreignFiles;  // another account could change these (upper case)
  std::set<std::string> protectedFiles;  // given our access list (upper case)
  std::vector<std::string> events;  // mkdir, copy, reg and start, in order
  unsigned paused = 0;

  std::string WindowsFolder() override { return windowsFolder; }
  std::string SystemFolder() override { return systemFolder; }
  std::string TempPath() override { return tempPath; }
  // ProgramFilesDir as the test sets it; any other text value from the registry.
  RegistryText ReadRegistryText(std::uint32_t root, const std::string& subkey, const std::string& name) override;
  RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey,
                              const std::string& name, RegType type,
                              const std::vector<std::uint8_t>& data) override;
  std::optional<StoredValue> ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) override;
  bool WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                        const StoredValue& value) override;
  RegistryPresence FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                     const std::string& name) override;
  bool DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) override;
  bool DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) override;
  // As the machine does, a name that is not there leaves its error behind.
  std::uint32_t Attributes(const Path& path) override;
  std::optional<FileStamp> Stamp(const Path& path) override;
  bool DeleteOneFile(const Path& path) override;
  bool RemoveFolder(const Path& path) override;
  bool MoveOneFile(const Path& from, const Path& to) override;
  bool RemoveAtRestart(const Path& path) override {
    if (!elevated) return false;
    restartRemovals.push_back(path);
    return true;
  }
  bool otherVolume = false;  // no file moves to another folder
  std::unique_ptr<AppendFile> OpenAppend(const Path& path) override;
  std::string Today() override { return "20261208"; }
  bool Elevated() override { return elevated; }
  bool LimitedAdministrator() override { return limitedAdministrator; }
  bool LimitedHalf() override { return elevated && limitedHalf; }
  bool Windows64() override { return windows64; }
  void UseNativeView() override {
    nativeView = true;
    events.push_back("native view");
  }
  std::string KnownFolderPath(KnownFolder which) override;
  // Each elevated start's arguments; it ends with elevatedExit, or the
  // person declines when there is none.
  std::optional<int> RunElevated(const std::vector<std::string>& args) override {
    elevatedRuns.push_back(args);
    if (!elevatedExit) lastError = elevationFailure;
    return elevatedExit;
  }
  // Each start as the limited half; it ends with limitedExit, or cannot
  // start when there is none.
  std::optional<int> RunAsLimitedHalf(const std::vector<std::string>& args) override {
    limitedRuns.push_back(args);
    if (!limitedExit) lastError = {kErrorAccessDenied, "denied"};
    return limitedExit;
  }
  std::vector<std::vector<std::string>> limitedRuns;
  std::optional<int> limitedExit;
  bool limitedHalf = false;  // with elevated: an account with an unelevated half
  bool MakeShortcut(const Shortcut& shortcut) override;
  std::string ExpandEnvironment(const std::string& text) override;
  void Announce(Change change, const std::string& folder) override {
    announced.push_back({change, folder});
  }
  std::map<std::string, std::string> environment{{"SystemRoot", "C:\\WINDOWS"}};
  std::vector<std::pair<Change, std::string>> announced;
  bool limitedAdministrator = false;
  bool windows64 = true;
  bool nativeView = false;
  std::optional<int> elevatedExit;
  Error elevationFailure{kErrorCancelled, "The operation was canceled by the user."};
  std::vector<std::vector<std::string>> elevatedRuns;
  // A folder reached without a junction on the way (nothing is locked).
  std::unique_ptr<FolderHold> HoldFolder(const Path& folder) override;
  std::unique_ptr<ProductHold> HoldProduct(const std::string& id) override;
  std::set<std::string> heldProducts;  // claimed by a run (upper case)
  bool OnlyOursCanChange(const Path& path) override { return !foreignFiles.count(UpperCase(path)); }
  // Another name for a folder (both ending in a backslash): alias -> folder.
  std::map<std::string, std::string> folderAliases;
  bool SameFolder(const Path& a, const Path& b) override {
    const auto real = [this](const std::string& p) {
      const auto alias = folderAliases.find(UpperCase(p));
      return alias == folderAliases.end() ? UpperCase(p) : UpperCase(alias->second);
    };
    return real(a) == real(b);
  }
  bool Protect(const Path& path) override {
    protectedFiles.insert(UpperCase(path));
    foreignFiles.erase(UpperCase(path));
    return true;
  }
  std::vector<std::string> restartRemovals;
  // Keys that exist (root, upper-case path); writing a value makes its key
  // and every key above it.
  std::set<std::pair<std::uint32_t, std::string>> keys;
  bool MakeFolder(const Path& path) override;
  std::unique_ptr<FindHandle> FindFirst(const Path& pattern, FindEntry& first) override;
  bool CopyOneFile(const Path& from, const Path& to) override;
  std::optional<std::string> ReadWholeFile(const Path& path) override;
  std::unique_ptr<pack::ByteSource> OpenRead(const Path& path) override;
  bool WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                     const FileProducer& produce) override;
  // A held file written or copied over: elevated, the new file waits beside
  // it (a file of its own) and is named here; else it fails in use.
  std::optional<std::string> WaitingBeside(const Path& path) override;
  std::map<std::string, std::string> waiting;  // upper case -> the waiting file
  std::optional<std::string> MakePrivateFolder(const std::string& prefix) override;
  bool RemoveTree(const Path& folder) override;
  std::set<std::string> privateFolders;  // as made, upper case
  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) override;
  bool StartWatcher(const std::string& commandLine) override {
    watchers.push_back(commandLine);
    return watcherStarts;
  }
  std::vector<std::string> watchers;
  bool watcherStarts = true;
  // Programs started to be waited for. How one behaves, by its program
  // (upper case, as SplitProgram gives it): its exit code and how many of
  // the fake's ticks it runs; others end at once with 0.
  struct Behaviour {
    std::uint32_t exitCode = 0;
    std::uint32_t runs = 0;
  };
  std::map<std::string, Behaviour> behaviours;
  struct Launched {
    std::string commandLine;
    StartAs as = StartAs::Run;
    std::uint32_t left = 0;  // ticks until it ends
    std::uint32_t exitCode = 0;
  };
  std::vector<std::shared_ptr<Launched>> launched;
  // A person at the desktop whom a program can be started as (none under
  // the system account without one).
  bool person = true;
  std::unique_ptr<StartedProgram> Launch(const std::string& commandLine, int showCode, const std::string& workingFolder,
                                         StartAs as) override;
  std::string FromCodePage(unsigned codePage, std::string_view bytes) override {
    return decode ? decode(codePage, bytes) : std::string(bytes);
  }
  void Pause(unsigned ms) override { paused += ms; }
  // Each call moves the clock on by tickStep: by default every file pumps.
  std::uint32_t Ticks() override { return clock += tickStep; }
  std::uint32_t clock = 0;
  Error LastError() override { return lastError; }
  // Running programs, by the files they hold (upper case; the files are
  // held while the program runs); those in `staysOpen` refuse to close.
  std::map<std::string, RunningProgram> programs;
  std::set<std::uint32_t> staysOpen;
  std::vector<RunningProgram> holding, closed;
  std::vector<RunningProgram> ProgramsHolding(const std::vector<std::string>& files) override;
  bool CloseHolders() override;
  void RestartClosed() override;
  Error lastError{5, "Access is denied."};
  std::uint32_t tickStep = 1000;

  // The Service Control Manager, by upper-case name: a running service
  // holds its program. Only an elevated run changes services.
  struct FakeService {
    std::string name;
    ServiceConfig config;
    bool running = false;
  };
  std::map<std::string, FakeService> services;
  std::set<std::string> failingServices;  // StartOneService fails for these (upper case)
  std::optional<ServiceConfig> FindService(const std::string& name) override;
  bool MakeService(const std::string& name, const ServiceConfig& config) override;
  bool ChangeService(const std::string& name, const ServiceConfig& config) override;
  bool ServiceRunning(const std::string& name) override;
  bool StartOneService(const std::string& name) override;
  bool StopOneService(const std::string& name) override;
  bool DeleteOneService(const std::string& name) override;

 private:
  struct Node {
    std::string name;  // as created
    std::uint32_t attributes;
    std::string content;
    std::uint64_t modified = 0;
  };
  static std::string Key(std::string path);
  // Whether a path goes through a junction before its last name.
  bool ThroughJunction(const std::string& key) const;
  bool Held(const std::string& key) const;
  // Where a file written to `to` goes: none when a held file cannot be replaced.
  std::optional<std::string> PlaceFor(const std::string& to);
  friend class FakeAppend;
  std::map<std::string, Node> nodes_;
  // Made anew for each fake: a copy of one is a machine of its own.
  struct Self {
    Self() = default;
    Self(const Self&) {}
    Self& operator=(const Self&) { return *this; }
    std::unique_ptr<Platform> platform;
  } self_;
};

class RecordingWindow : public SetupWindow {
 public:
  // What the person sees now.
  struct Screen {
    std::string title;
    bool shown = false, red = false, bars = true, pathBox = false;
    std::string status, button;
    int mainMax = 0, mainPos = 0;
  };
  Screen screen;
  std::vector<std::string> statuses;  // every status line shown, in order
  std::vector<std::string> calls;
  std::string pathText;
  bool terminated = false;
  // Runs on every ProcessMessages: the test plays the user here.
  std::function<void()> onPump;
  int pumps = 0;
  int waits = 0;

  // Calls whose text starts with prefix, in order.
  std::vector<std::string> Calls(const std::string& prefix) const;

  void BuildControls(const std::string& t, const std::string& c, const std::string& l) override {
    screen.title = t;
    Log("build " + t + "|" + c + "|" + l);
  }
  void ApplyVisible(bool v) override {
    screen.shown = v;
    Log(std::string("visible ") + (v ? "1" : "0"));
  }
  void SetStatusText(const std::string& t) override {
    screen.status = t;
    statuses.push_back(t);
    Log("status " + t);
  }
  void RepaintStatus() override { Log("repaint"); }
  void UpdateStatus() override { Log("updateStatus"); }
  void SetStatusRed() override {
    screen.red = true;
    Log("red");
  }
  void SetMainMax(int m) override {
    screen.mainMax = m;
    Log("mainMax " + std::to_string(m));
  }
  void SetMainPosition(int p) override {
    screen.mainPos = p;
    Log("mainPos " + std::to_string(p));
  }
  void StepMain() override {
    screen.mainPos = std::min(screen.mainPos + 1, screen.mainMax);
    Log("step");
  }
  void UpdateMain() override { Log("updateMain"); }
  void SetThinMax(int m) override { Log("thinMax " + std::to_string(m)); }
  void SetThinPosition(int p) override { Log("thinPos " + std::to_string(p)); }
  void ShowProgressBars(bool s) override {
    screen.bars = s;
    Log(std::string("bars ") + (s ? "1" : "0"));
  }
  void ShowPathBox(bool s) override {
    screen.pathBox = s;
    Log(std::string("pathBox ") + (s ? "1" : "0"));
  }
  void SetPathText(const std::string& t) override {
    pathText = t;
    Log("path " + t);
  }
  std::string PathText() override { return pathText; }
  void SetButtonCaption(const std::string& c) override {
    screen.button = c;
    Log("button " + c);
  }
  bool answer = true;  // to every question
  std::optional<bool> Confirm(const std::string& q) override {
    Log("ask " + q);
    return answer;
  }
  void OfferToStart(const std::string& caption) override {
    screen.bars = false;
    Log("offer " + caption);
  }
  void ProcessMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  void WaitForEvent() override { ++waits; }
  void Terminate() override {
    terminated = true;
    Log("terminate");
  }

 private:
  void Log(std::string s) { calls.push_back(std::move(s)); }
};

}  // namespace qv::test
