// A packed program's view of its folder, over the in-memory machine and a
// package made by the real writer and read by the real reader.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "engine/errors.h"
#include "engine/install_recorder.h"
#include "engine/logging_platform.h"
#include "engine/packaged_platform.h"
#include "engine/setup_engine.h"
#include "package/memory_bytes.h"
#include "package/package.h"
#include "package/pe.h"
#include "package/writer.h"
#include "tests/host/fakes.h"
#include "tools/qvpack/patch.h"

namespace qv {
namespace {

constexpr char kFolder[] = "D:\\dist\\";

class StringBytes : public pack::ByteSource {
 public:
  explicit StringBytes(std::string content) : bytes(std::move(content)) {}
  std::uint64_t Size() const override { return bytes.size(); }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) override {
    if (unreadable || offset > bytes.size() || n > bytes.size() - offset) return false;
    std::memcpy(buffer, bytes.data() + offset, n);
    return true;
  }
  std::string bytes;
  bool unreadable = false;  // a disk that stops answering
};

// The smallest program a package can be sealed behind: one section ending
// at 0x400.
std::string StubProgram() {
  using namespace pack::pe;
  std::string pe(0x400, '\0');
  const auto put = [&](std::size_t at, std::uint32_t v, int n) { StoreLe(&pe[at], v, n); };
  pe[0] = 'M';
  pe[1] = 'Z';
  const std::size_t signature = kDosHeaderSize, file = signature + kSignatureSize, optional = file + kFileHeaderSize;
  put(kSignatureOffset, signature, 4);
  std::memcpy(&pe[signature], kSignature, kSignatureSize);
  put(file + kMachine, kI386, 2);
  put(file + kSectionCount, 1, 2);
  put(file + kOptionalHeaderSize, 0xE0, 2);
  put(file + kOptionalHeaderSize + 2, 0x0102, 2);  // characteristics: an executable for 32 bits
  put(optional + kMagic, kPe32, 2);
  const std::size_t section = optional + 0xE0;
  std::memcpy(&pe[section + kSectionName], ".text", 5);
  put(section + kRawSize, 0x200, 4);
  put(section + kRawPointer, 0x200, 4);
  return pe;
}

struct PackFile {
  std::string path;
  std::string content;  // folders: unused
  std::uint32_t attributes = kAttrArchive;
  std::uint64_t modified = 0;
};

// A package folder as files on the in-memory machine and sealed by the writer.
struct Sample {
  std::string script;
  std::vector<PackFile> files;

  void PutOnDisk(test::FakePlatform& p) const {
    p.AddFile(std::string(kFolder) + "setup.ini", script);
    for (const PackFile& f : files) {
      if (f.attributes & kAttrDirectory)
        p.AddFolder(kFolder + f.path, f.attributes);
      else
        p.AddFile(kFolder + f.path, f.content, f.attributes, f.modified);
    }
  }

  std::string Sealed() const {
    std::vector<pack::Input> inputs;
    std::map<std::string, std::string> contents{{"setup.ini", script}};
    inputs.push_back({pack::Entry{"setup.ini", kAttrArchive, 0, script.size()}, "setup.ini"});
    for (const PackFile& f : files) {
      inputs.push_back({pack::Entry{f.path, f.attributes, f.modified, f.content.size()}, f.path});
      contents[f.path] = f.content;
    }
    StringBytes stub(StubProgram());
    pack::MemorySink out;
    const std::string error = pack::WritePackage(
        stub, "setup.ini", inputs,
        [&](const std::string& p) { return std::make_unique<StringBytes>(contents.at(p)); }, out, {});
    EXPECT_EQ(error, "");
    return out.bytes;
  }
};

// A packed program on the in-memory machine: setup.exe (renamed as a test
// likes) alone in its folder, its package opened and verified.
struct PackedRig {
  test::FakePlatform machine;
  StringBytes file;
  pack::Reader reader;
  std::unique_ptr<PackagedPlatform> platform;
  std::string programFile;

  explicit PackedRig(const Sample& sample, const std::string& exe = "setup.exe", const std::string& folder = kFolder)
      : file(sample.Sealed()), programFile(folder + exe) {
    machine.AddFile(programFile, "the program");
    const std::optional<std::uint64_t> start = pack::OverlayStart(file);
    EXPECT_EQ(start, 0x400u);
    EXPECT_EQ(reader.Open(file, start.value_or(0)), pack::OpenStatus::Ok);
    EXPECT_TRUE(reader.Verify());
    platform = std::make_unique<PackagedPlatform>(machine, reader, folder);
    platform->SetOwnScript(ScriptFileName(programFile, {}));
  }
};

// Whatever a run left on the machine, to compare two runs by.
struct Outcome {
  std::vector<std::tuple<std::string, std::uint32_t, std::string, std::uint64_t>> files;
  std::map<std::tuple<std::uint32_t, std::string, std::string>, std::vector<std::uint8_t>> registry;
  std::vector<std::pair<std::string, int>> started;
  bool scriptFound = false;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  for (const auto& [path, attributes, content, modified] : o.files)
    *os << "\n  " << path << " attr " << attributes << " time " << modified << " " << content.size() << " bytes";
  *os << "\n  " << o.registry.size() << " registry values, " << o.started.size() << " started, script "
      << (o.scriptFound ? "found" : "missing");
}

Outcome RunScript(Platform& platform, test::FakePlatform& machine, const std::string& programFile,
            std::vector<std::string> args = {}) {
  test::RecordingWindow window;
  RunState state;
  FolderValues folders;
  SetupEngine engine(platform, window, state, folders, programFile);
  engine.SetOptions(true, std::string("C:\\App"));
  engine.Run(args);
  Outcome o;
  o.scriptFound = engine.ScriptFound();
  for (const std::string& k : machine.Tree("C:\\"))
    if (k.rfind("C:\\APP", 0) == 0 || k.rfind("C:\\OUT", 0) == 0)
      o.files.emplace_back(k, machine.AttributesOf(k), machine.Content(k), machine.ModifiedOf(k));
  for (const auto& [key, value] : machine.registry) o.registry[key] = value.data;
  o.started = machine.started;
  return o;
}

const std::vector<PackFile> kFiles = {
    {"files", "", kAttrDirectory},
    {"files\\a.txt", "alpha", kAttrArchive, 132000000000000000ull},
    {"files\\B.TXT", "bravo", kAttrHidden | kAttrSystem, 132000000000000001ull},
    {"files\\noext", "n", kAttrReadOnly, 7},
    {"files\\sub\\c.dat", std::string(3000, 'c'), kAttrArchive, 9},
    {"files\\empty", "", kAttrDirectory | kAttrHidden},
    {"more\\d.txt", "delta"},  // its folder is only implied
};

TEST(PackagedPlatform, RunsAsTheFolderItWasPackedFrom) {
  const char* scripts[] = {
      "[INSTALL]\nA=files\\,?\n[REGISTRY]\n1=HKCU\\Software\\T\\Dir,%INSTALLDIR%\n",
      "[INSTALL]\nA=files\\*.txt,C:\\Out\nB=files\\sub,C:\\Out2\nC=more,C:\\Out3\n",
      "[INSTALL]\nA=files\\a.txt,C:\\Out\nB=files\\nothing*,C:\\Out4\nC=files\\n*,C:\\Out5\n",
      "[INSTALL]\nA=files\\sub\\,C:\\Out\nB=D:\\dist\\more\\d.txt,C:\\Out\n",
      // Other spellings of the same paths, and one above the folder.
      "[INSTALL]\nA=files/sub/../a.txt,C:\\Out\nB=.\\files\\.\\sub/c.dat,C:\\Out2\nC=..\\dist\\more\\d.txt,C:\\Out3\n",
  };
  for (const char* body : scripts) {
    SCOPED_TRACE(body);
    const Sample sample{std::string("[GUI]\nVisible=0\n") + body + "[COMMAND]\n1=cmd.exe /c x,HIDE\n", kFiles};
    test::FakePlatform folder;
    sample.PutOnDisk(folder);
    const Outcome fromFolder = RunScript(folder, folder, std::string(kFolder) + "setup.exe");
    ASSERT_FALSE(fromFolder.files.empty());
    // Renamed: the packed script is still the one found.
    PackedRig packed(sample, "Downloaded (1).exe");
    EXPECT_EQ(RunScript(*packed.platform, packed.machine, packed.programFile), fromFolder);
  }
}

TEST(PackagedPlatform, AScriptNamedOnTheCommandLineComesFromThePackageThenTheDisk) {
  Sample sample{"[INSTALL]\nA=files\\a.txt,C:\\Out\n", kFiles};
  sample.files.push_back({"other.ini", "[INSTALL]\nA=files\\noext,C:\\Out\n"});
  const struct {
    const char* arg;
    const char* installed;
  } cases[] = {{"other.ini", "C:\\OUT\\NOEXT"}, {"disk.ini", "C:\\OUT\\B.TXT"}};
  for (const auto& c : cases) {
    PackedRig fresh(sample);
    fresh.machine.AddFile(std::string(kFolder) + "disk.ini", "[INSTALL]\nA=files\\B.TXT,C:\\Out\n");
    const Outcome o = RunScript(*fresh.platform, fresh.machine, fresh.programFile, {c.arg});
    EXPECT_TRUE(o.scriptFound) << c.arg;
    ASSERT_EQ(o.files.size(), 2u) << c.arg;
    EXPECT_EQ(std::get<0>(o.files[1]), c.installed);
  }
}

TEST(PackagedPlatform, SearchesThePackageAsTheMachineSearchesAFolder) {
  PackedRig rig({"", kFiles});
  rig.machine.AddFile(std::string(kFolder) + "beside.dat", "on disk");
  const struct {
    std::string pattern;
    std::vector<std::string> found;  // name:attributes, in order
    std::uint32_t error;             // when nothing is found
  } cases[] = {
      {"files\\*.*", {".:16", "..:16", "a.txt:32", "B.TXT:6", "noext:1", "sub:16", "empty:18"}, 0},
      {"files\\*.txt", {"a.txt:32", "B.TXT:6"}, 0},
      {"FILES\\?.TxT", {"a.txt:32", "B.TXT:6"}, 0},
      {"files\\*.", {".:16", "..:16", "a.txt:32", "B.TXT:6", "noext:1", "sub:16", "empty:18"}, 0},  // "*"
      {"files\\n*.*", {"noext:1"}, 0},
      {"files\\sub\\..\\a.txt", {"a.txt:32"}, 0},
      {"files\\A.TXT", {"a.txt:32"}, 0},
      {"files\\zz*", {}, kErrorFileNotFound},
      {"nowhere\\*.*", {}, kErrorPathNotFound},
      {"more\\*", {".:16", "..:16", "d.txt:32"}, 0},
      {"*.*", {".:16", "..:16", "setup.ini:32", "files:16", "more:16"}, 0},  // the package, not the disk
      {"beside.dat", {"beside.dat:32"}, 0},                                  // a name on disk beside it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    FindEntry e;
    std::unique_ptr<FindHandle> find = rig.platform->files.FindFirst(kFolder + c.pattern, e);
    std::vector<std::string> got;
    if (find) do
        got.push_back(e.name + ":" + std::to_string(e.attributes));
      while (find->Next(e));
    EXPECT_EQ(got, c.found);
    if (!find) {
      EXPECT_EQ(rig.platform->system.LastError().code, c.error);
    }
  }
  EXPECT_EQ(rig.platform->files.Attributes(kFolder + std::string("more")), kAttrDirectory);
  EXPECT_EQ(rig.platform->files.Attributes(kFolder + std::string("files\\B.txt")), kAttrHidden | kAttrSystem);
  EXPECT_EQ(rig.platform->files.Attributes(kFolder + std::string("setup.exe")), kAttrArchive);  // the disk's
}

// Names the machine takes for one: letters of any script in either case,
// '?' one letter, a program folder whose upper case takes fewer bytes.
TEST(PackagedPlatform, NamesMatchAsTheFileSystemComparesThem) {
  const std::string folder = "D:\\ⱥdir été\\";  // "ⱥ" takes 3 bytes, its upper case "Ⱥ" 2
  PackedRig rig({"", {{"Données\\Été.txt", "e"}, {"Données\\σ.txt", "s"}, {"Données\\ß.txt", "b"}}}, "setup.exe",
                folder);
  const std::string upper = "D:\\ȺDIR ÉTÉ\\";
  const struct {
    std::string pattern;
    std::vector<std::string> found;
  } cases[] = {
      {upper + "DONNÉES\\*.*", {".", "..", "Été.txt", "σ.txt", "ß.txt"}},
      {upper + "données\\ÉTÉ.TXT", {"Été.txt"}},
      {folder + "DONNÉES\\Σ.TXT", {"σ.txt"}},
      {folder + "données\\?TÉ.*", {"Été.txt"}},
      {folder + "données\\?.txt", {"σ.txt", "ß.txt"}},
      {folder + "données\\SS.txt", {}},  // "ß" has no one-letter upper case
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    FindEntry e;
    std::unique_ptr<FindHandle> find = rig.platform->files.FindFirst(c.pattern, e);
    std::vector<std::string> got;
    if (find) do
        got.push_back(e.name);
      while (find->Next(e));
    EXPECT_EQ(got, c.found);
  }
  EXPECT_EQ(rig.platform->files.Attributes(upper + "DONNÉES"), kAttrDirectory);
  EXPECT_EQ(rig.platform->files.Attributes(upper + "SETUP.INI"), kAttrArchive);  // the packed script, by its own name
}

TEST(PackagedPlatform, APackedScriptIsUnpackedOnceAndNotTakenForAnEmptyOne) {
  const Sample sample{"[GUI]\nVisible=0\n[REGISTRY]\n1=HKCU\\Software\\T\\A,one\n2=HKCU\\Software\\T\\B,two\n", kFiles};
  {
    // The disk stops answering after the check: the script cannot be had.
    PackedRig rig(sample);
    rig.file.unreadable = true;
    EXPECT_FALSE(rig.platform->UnpackScript(std::string(kFolder) + "setup.ini"));
  }
  PackedRig rig(sample);
  EXPECT_TRUE(rig.platform->UnpackScript(std::string(kFolder) + "nothere.ini"));  // not the package's
  ASSERT_TRUE(rig.platform->UnpackScript(std::string(kFolder) + "setup.ini"));
  rig.file.unreadable = true;  // every value the run reads comes from the script as unpacked
  const Outcome o = RunScript(*rig.platform, rig.machine, rig.programFile);
  EXPECT_TRUE(o.scriptFound);
  EXPECT_EQ(o.registry.size(), 2u);
}

TEST(PackagedPlatform, ACopyIsWholeOrNothing) {
  // Bytes no compressor shrinks, so they can be found and damaged in the
  // packed file.
  std::string noise(20000, '\0');
  std::uint32_t x = 12345;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  Sample sample{"", {{"big.bin", noise, kAttrReadOnly | kAttrHidden, 99}, {"small.txt", "small", kAttrArchive, 5}}};
  const std::string target = "C:\\App\\big.bin";
  struct Case {
    const char* name;
    bool damage;
    std::size_t diskSpace;
    bool existing;
  } cases[] = {
      {"new file, good", false, static_cast<std::size_t>(-1), false},
      {"replaces a file", false, static_cast<std::size_t>(-1), true},
      {"damaged, new", true, static_cast<std::size_t>(-1), false},
      {"damaged, existing", true, static_cast<std::size_t>(-1), true},
      {"disk full, existing", false, 1000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PackedRig rig(sample);
    rig.machine.AddFolder("C:\\App");
    if (c.existing) rig.machine.AddFile(target, "old", kAttrArchive, 1);
    rig.machine.diskSpace = c.diskSpace;
    if (c.damage) {
      const std::size_t at = rig.file.bytes.find(noise.substr(10000, 32));
      ASSERT_NE(at, std::string::npos);
      rig.file.bytes[at + 5] ^= 0x40;
    }
    const bool ok = rig.platform->files.CopyOneFile(kFolder + std::string("big.bin"), target);
    const bool good = !c.damage && c.diskSpace > noise.size();
    EXPECT_EQ(ok, good);
    if (good) {
      EXPECT_EQ(rig.machine.Content(target), noise);
      EXPECT_EQ(rig.machine.AttributesOf(target), kAttrReadOnly | kAttrHidden);
      EXPECT_EQ(rig.machine.ModifiedOf(target), 99u);
    } else if (c.existing) {
      EXPECT_EQ(rig.machine.Content(target), "old");
      EXPECT_EQ(rig.machine.ModifiedOf(target), 1u);
    } else {
      EXPECT_FALSE(rig.machine.IsFile(target));
    }
    EXPECT_EQ(rig.machine.Tree("C:\\App").size(), c.existing || good ? 2u : 1u);
    if (!ok) {
      EXPECT_EQ(rig.platform->system.LastError().code, c.damage ? kErrorPackageDamaged : 112u);
    }
  }
}

TEST(PackagedPlatform, PackedCommandsRunFromAPrivateFolderRemovedAtTheEnd) {
  Sample sample{"", {{"redist\\helper.exe", "H", kAttrArchive, 3},
                     {"redist\\helper.dll", "L", kAttrReadOnly, 4},
                     {"redist\\data\\x.cab", "X", kAttrHidden, 5},
                     {"tool.exe", "T"},
                     {"readme.txt", "R"},
                     {"files\\app.exe", "A"},
                     {"cmd.exe", "planted"}}};
  const std::string priv = "C:\\TEMP\\qvSetup-1\\";
  const struct {
    std::string command;
    std::string started;               // empty: as written
    std::vector<std::string> written;  // under the private folder
  } cases[] = {
      {"redist\\helper.exe /q", "\"" + priv + "redist\\helper.exe\" /q",
       {"REDIST", "REDIST\\DATA", "REDIST\\DATA\\X.CAB", "REDIST\\HELPER.DLL", "REDIST\\HELPER.EXE"}},
      {"\"D:\\dist\\redist\\helper\" a,b", "\"" + priv + "redist\\helper.exe\" a,b",
       {"REDIST", "REDIST\\DATA", "REDIST\\DATA\\X.CAB", "REDIST\\HELPER.DLL", "REDIST\\HELPER.EXE"}},
      // At the top only the files beside the program, not the trees.
      {"tool.exe", "\"" + priv + "tool.exe\"", {"CMD.EXE", "README.TXT", "SETUP.INI", "TOOL.EXE"}},
      {"cmd.exe /c echo", "", {}},  // the system's program comes first
      {"C:\\WINDOWS\\notepad.exe", "", {}},
      {"redist\\missing.exe", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    PackedRig rig(sample);
    rig.machine.AddFolder("C:\\TEMP");
    rig.machine.AddFile("C:\\WINDOWS\\system32\\cmd.exe", "system");
    EXPECT_TRUE(rig.platform->shell.StartProgram(c.command, 1, {}));
    ASSERT_EQ(rig.machine.started.size(), 1u);
    EXPECT_EQ(rig.machine.started[0].first, c.started.empty() ? c.command : c.started);
    // A packed program runs in its own folder, never the setup's.
    EXPECT_EQ(rig.machine.startedIn[0], c.started.empty() ? "" : FolderPart(c.started.substr(1, c.started.find('"', 1) - 1)));
    std::vector<std::string> written;
    for (const std::string& k : rig.machine.Tree(priv))
      if (k.size() > priv.size()) written.push_back(k.substr(priv.size()));
    EXPECT_EQ(written, c.written);
    if (!c.written.empty()) {
      for (const PackFile& f : sample.files)
        if (rig.machine.IsFile(priv + f.path)) {
          EXPECT_EQ(rig.machine.Content(priv + f.path), f.content) << f.path;
          EXPECT_EQ(rig.machine.AttributesOf(priv + f.path), f.attributes) << f.path;
          EXPECT_EQ(rig.machine.ModifiedOf(priv + f.path), f.modified) << f.path;
        }
      // A second command from the same folder finds it written already.
      rig.platform->shell.StartProgram(c.command, 1, {});
      EXPECT_EQ(std::count_if(rig.machine.events.begin(), rig.machine.events.end(),
                              [](const std::string& e) { return e.rfind("private", 0) == 0; }),
                1);
    }
    rig.platform->Finish();
    EXPECT_FALSE(rig.machine.IsFolder(priv));
  }
}

TEST(PackagedPlatform, PrivateFoldersInUseAreKeptAndLeftOversRemovedAtTheNextStart) {
  Sample sample{"", {{"redist\\helper.exe", "H"}}};
  const std::string earlier = "C:\\TEMP\\qvSetup-0123456789abcdef0123456789abcdef";
  const std::string busy = "C:\\TEMP\\qvSetup-fedcba9876543210fedcba9876543210";
  const std::string notOurs = "C:\\TEMP\\qvSetup-mine";
  {
    PackedRig rig(sample);
    rig.machine.AddFolder("C:\\TEMP");
    rig.machine.AddFile(earlier + "\\redist\\helper.exe", "old");
    rig.machine.AddFile(busy + "\\redist\\helper.exe", "running");
    rig.machine.heldFiles.insert(UpperCase(busy + "\\redist\\helper.exe"));
    rig.machine.AddFile(notOurs + "\\keep.txt", "k");
    rig.platform->RemoveLeftovers();
    EXPECT_FALSE(rig.machine.IsFolder(earlier));
    EXPECT_TRUE(rig.machine.IsFile(busy + "\\redist\\helper.exe"));
    EXPECT_TRUE(rig.machine.IsFile(notOurs + "\\keep.txt"));

    // This run's helper is still running when the run ends.
    ASSERT_TRUE(rig.platform->shell.StartProgram("redist\\helper.exe", 1, {}));
    const std::string helper = *rig.platform->PrivateFolder() + "redist\\helper.exe";
    rig.machine.heldFiles.insert(UpperCase(helper));
    const unsigned pausedBefore = rig.machine.paused;
    rig.platform->Finish();
    EXPECT_TRUE(rig.machine.IsFile(helper)) << "the files of a running program were taken away";
    EXPECT_GT(rig.machine.paused, pausedBefore);  // it was given a moment
    EXPECT_LE(rig.machine.paused - pausedBefore, 3000u);
  }
}

// A product's release sealed as one file: 1.0 and 1.1 share a file, change
// a larger one in a few places and a small one whole, and each has one the
// other has not.
std::string ReleaseOf(const std::string& version) {
  std::string big(60000, '\0');
  std::uint32_t x = 7;
  for (char& c : big) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  if (version != "1.0")
    for (std::size_t at = 500; at < big.size(); at += 9000) big[at] ^= 0x5A;
  Sample s{"[INSTALL]\nApp=app\\,?\n[UNINSTALL]\nName=Demo\nId=Demo\nVersion=" + version + "\n",
           {{"app", "", kAttrDirectory},
            {"app\\same.txt", "the same in both", kAttrArchive, 5},
            {"app\\big.bin", big, kAttrArchive | kAttrReadOnly, version == "1.0" ? 6u : 7u},
            {"app\\a.txt", "a" + version, kAttrArchive, 8},
            {version == "1.0" ? "app\\old.txt" : "app\\new.txt", version}}};
  return s.Sealed();
}

struct UpdateRun {
  int exitCode = -1;
  bool threw = false;
};

// One run of a sealed package on the machine, as qvSetup runs it: through
// the package, the log, the recorder and the engine, hidden, with /D= or not.
UpdateRun RunPackage(test::FakePlatform& machine, const std::string& bytes,
                     const std::optional<std::string>& folder = std::nullopt) {
  StringBytes file(bytes);
  pack::Reader reader;
  EXPECT_EQ(reader.Open(file, pack::OverlayStart(file).value_or(0)), pack::OpenStatus::Ok);
  EXPECT_TRUE(reader.Verify());
  const std::string program = std::string(kFolder) + "setup.exe";
  PackagedPlatform packaged(machine, reader, kFolder);
  packaged.SetOwnScript(ScriptFileName(program, {}));
  RunReport report;
  LoggingPlatform logged(packaged, nullptr, report);
  InstallRecorder recorder(logged, packaged, nullptr);
  recorder.SetUninstallerWriter([](Platform& p, const std::string& to) {
    return p.files.WriteFileFrom(to, kAttrArchive, 0, [](pack::ByteSink& out) { return out.Write("MZ", 2); });
  });
  test::RecordingWindow window;
  RunState state;
  FolderValues folders;
  SetupEngine engine(recorder, window, state, folders, program);
  engine.SetRecordKeeper(&recorder);
  engine.SetReport(&report);
  engine.SetOptions(true, folder);
  if (packaged.IsUpdate()) engine.SetUpdate(&packaged);
  UpdateRun run;
  try {
    engine.Run({});
  } catch (const EngineError& e) {
    run.threw = true;
    report.error = true;
  }
  recorder.Finish();
  packaged.Finish();
  run.exitCode = ExitCodeOf(report, state.userQuit);
  return run;
}

// What an installation leaves: every file with its attributes, time and
// content, and the registry, but for the record's own bytes and seal.
Outcome Left(test::FakePlatform& machine) {
  Outcome o;
  for (const std::string& k : machine.Tree("C:\\"))
    if (!k.ends_with("UNINSTALL.DAT") && k.find("\\QV") == std::string::npos)
      o.files.emplace_back(k, machine.AttributesOf(k), machine.Content(k), machine.ModifiedOf(k));
  for (const auto& [key, value] : machine.registry)
    if (std::get<2>(key) != "QVSETUPRECORDSEAL") o.registry[key] = value.data;
  return o;
}

// The update qvpack patch makes from 1.0 and 1.1 installs only over 1.0 as
// it was installed: over 1.1, or over a 1.0 whose kept or patched file was
// changed since, it writes nothing and exits with 11. Over 1.0 it leaves
// the machine as 1.1's full package leaves it.
TEST(PackagedPlatform, AnUpdateInstallsOnlyOverItsBaseAndLeavesWhatTheFullPackageLeaves) {
  const std::string v1 = ReleaseOf("1.0"), v2 = ReleaseOf("1.1");
  StringBytes before(v1), after(v2);
  pack::MemorySink patched;
  pack::PatchCounts counts;
  ASSERT_EQ(qvpack::MakePatch({"1.exe", before}, {"2.exe", after}, patched, {}, &counts), "");
  ASSERT_EQ(counts.kept, 1u);
  ASSERT_EQ(counts.patched, 1u);
  const std::string update = patched.bytes;

  test::FakePlatform full;
  full.AddFolder("C:\\Program Files");
  full.AddFolder("C:\\TEMP");
  ASSERT_EQ(RunPackage(full, v1, "C:\\App").exitCode, kExitOk);
  ASSERT_EQ(RunPackage(full, v2).exitCode, kExitOk);

  const struct {
    const char* what;
    std::function<void(test::FakePlatform&)> change;
    int code;
  } cases[] = {
      {"over 1.0", [](test::FakePlatform&) {}, kExitOk},
      {"over 1.1", [&](test::FakePlatform& m) { RunPackage(m, v2); }, kExitNotTheBase},
      {"a kept file changed", [](test::FakePlatform& m) { m.AddFile("C:\\App\\same.txt", "the same in bot!", kAttrArchive, 5); },
       kExitNotTheBase},
      {"a patched file changed",
       [](test::FakePlatform& m) {
         std::string big = m.Content("C:\\App\\big.bin");
         big[100] ^= 1;
         m.AddFile("C:\\App\\big.bin", big, m.AttributesOf("C:\\App\\big.bin"), m.ModifiedOf("C:\\App\\big.bin"));
       },
       kExitNotTheBase},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::FakePlatform m;
    m.AddFolder("C:\\Program Files");
    m.AddFolder("C:\\TEMP");
    ASSERT_EQ(RunPackage(m, v1, "C:\\App").exitCode, kExitOk);
    c.change(m);
    const Outcome was = Left(m);
    EXPECT_EQ(RunPackage(m, update).exitCode, c.code);
    if (c.code != kExitOk) {
      EXPECT_EQ(Left(m), was);
      continue;
    }
    EXPECT_EQ(Left(m), Left(full));
    EXPECT_EQ(m.Content("C:\\App\\uninstall.dat").empty(), false);
  }
}

// An update's files from its base under ONLYIFNEW and IFNEWER: one there
// is left as it is without its base, where the entry leaves it (a kept one
// under either flag, a patched one under ONLYIFNEW); a missing one, and a
// patched one under IFNEWER, still need their base.
TEST(PackagedPlatform, AnUpdateLeavesWhatItsEntriesFlagsLeave) {
  const auto release = [](const std::string& version) {
    std::string big(60000, '\0');
    std::uint32_t x = 11;
    for (char& c : big) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    if (version != "1.0")
      for (std::size_t at = 700; at < big.size(); at += 9000) big[at] ^= 0x33;
    Sample s{"[INSTALL]\nApp=app\\,?\nConf=conf\\,%INSTALLDIR%\\conf,ONLYIFNEW\nLib=lib\\,%INSTALLDIR%\\lib,IFNEWER\n"
             "[UNINSTALL]\nName=Demo\nId=Demo\nVersion=" + version + "\n",
             {{"app", "", kAttrDirectory},
              {"conf", "", kAttrDirectory},
              {"lib", "", kAttrDirectory},
              {"app\\a.txt", "a" + version, kAttrArchive, 8},
              {"conf\\same.ini", "the same in both", kAttrArchive, 5},
              {"conf\\big.cfg", big, kAttrArchive, version == "1.0" ? 6u : 7u},
              {"lib\\same.dll", "the same dll", kAttrArchive, 5},
              {"lib\\big.bin", big + "lib", kAttrArchive, version == "1.0" ? 6u : 7u}}};
    return std::make_pair(s.Sealed(), big);
  };
  const auto [v1, big1] = release("1.0");
  const auto [v2, big2] = release("1.1");
  StringBytes before(v1), after(v2);
  pack::MemorySink patched;
  pack::PatchCounts counts;
  ASSERT_EQ(qvpack::MakePatch({"1.exe", before}, {"2.exe", after}, patched, {}, &counts), "");
  ASSERT_EQ(counts.kept, 2u);
  ASSERT_EQ(counts.patched, 2u);

  const struct {
    const char* what;
    std::function<void(test::FakePlatform&)> change;
    int code;
    std::map<std::string, std::string> after;  // below C:\App
  } cases[] = {
      {"changed where the flags leave them",
       [](test::FakePlatform& m) {
         m.AddFile("C:\\App\\conf\\same.ini", "edited");
         m.AddFile("C:\\App\\conf\\big.cfg", "edited too");
         m.AddFile("C:\\App\\lib\\same.dll", "another program's");
       },
       kExitOk,
       {{"a.txt", "a1.1"},
        {"conf\\same.ini", "edited"},
        {"conf\\big.cfg", "edited too"},
        {"lib\\same.dll", "another program's"},
        {"lib\\big.bin", big2 + "lib"}}},
      {"a kept one missing", [](test::FakePlatform& m) { m.DeleteOneFile("C:\\App\\conf\\same.ini"); },
       kExitNotTheBase, {{"a.txt", "a1.0"}}},
      {"a patched one of IFNEWER changed", [](test::FakePlatform& m) { m.AddFile("C:\\App\\lib\\big.bin", "changed"); },
       kExitNotTheBase, {{"a.txt", "a1.0"}, {"lib\\big.bin", "changed"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::FakePlatform m;
    m.AddFolder("C:\\Program Files");
    m.AddFolder("C:\\TEMP");
    ASSERT_EQ(RunPackage(m, v1, "C:\\App").exitCode, kExitOk);
    c.change(m);
    EXPECT_EQ(RunPackage(m, patched.bytes).exitCode, c.code);
    for (const auto& [file, content] : c.after) EXPECT_EQ(m.Content("C:\\App\\" + file), content) << file;
  }
}

}  // namespace
}  // namespace qv
