// qvpack: checks a package folder's script, seals the folder into one
// setup program, lists what a sealed one holds and gives its folder back.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/memory_bytes.h"
#include "package/package.h"
#include "package/pe_resources.h"
#include "tools/qvpack/patch.h"
#include "package/writer.h"
#include "resources/version.h"
#include "tools/qvpack/files.h"
#include "tools/qvpack/progress.h"
#include "tools/qvpack/script_check.h"

#ifdef _WIN32
#include "framework/text_conv.h"
#endif

namespace qv::qvpack {

namespace {

constexpr int kFailed = 1;
// --xz's blocks and dictionaries: 32 MiB.
constexpr int kXzBlockLog = 25;
constexpr int kDefaultWindowLog = 25;
constexpr int kBadUsage = 2;

const char kUsage[] =
    "Usage:\n"
    "  qvpack pack FOLDER -o OUT.exe [--script NAME] [--stub FILE] [--icon FILE]\n"
    "              [--best | --xz] [--window MIB] [--force]\n"
    "  qvpack check FOLDER [--script NAME] [--strict]\n"
    "  qvpack patch OLD.exe NEW.exe -o UPDATE.exe [--best]\n"
    "  qvpack list OUT.exe\n"
    "  qvpack extract OUT.exe DIR\n"
    "  qvpack --help | --version\n"
    "\n"
    "pack     seals FOLDER (its script and the files it installs) behind the setup\n"
    "         program into OUT.exe. The script is read as the setup program reads it\n"
    "         and its problems are shown as FILE:LINE: error|warning: text; errors\n"
    "         stop packing.\n"
    "  -o, --output OUT.exe  the file to write (replaced when it exists)\n"
    "  --script NAME         the script, relative to FOLDER (default: setup.ini)\n"
    "  --stub FILE           the setup program to seal behind (default: qvSetup.exe\n"
    "                        beside qvpack, else " QVPACK_DEFAULT_STUB ")\n"
    "  --icon FILE           the packed file's icon, a .ico (default: [SETUP] Icon=)\n"
    "  --best                the strongest compression: smaller, slower to pack\n"
    "  --xz                  LZMA2 (xz's): smaller still, slower to pack and to\n"
    "                        install; unpacked on every processor at once\n"
    "  --window MIB          how far back the compressor looks for repeats: 8, 16,\n"
    "                        32 (default), 64 or 128; the setup program holds this\n"
    "                        much in memory while it installs (up to 32: one, and\n"
    "                        a 32 MiB block, per processor, unpacking side by side)\n"
    "  --force               pack despite errors\n"
    "check    reads FOLDER's script and files as pack does and shows the same\n"
    "         problems, packing nothing. Exit codes: 0 no errors (warnings shown),\n"
    "         1 warnings with --strict, 2 errors.\n"
    "  --script NAME         as for pack\n"
    "  --strict              warnings fail the check too\n"
    "patch    makes an update from two packed files of one product: NEW.exe's\n"
    "         setup program and files, carrying only what differs from OLD.exe's.\n"
    "         It installs only over an installation of exactly OLD.exe. Their\n"
    "         scripts' [UNINSTALL] Id must be the same and their Version not.\n"
    "list     prints each file and folder inside: attributes, size, path; for an\n"
    "         update also the version it applies to and where each file comes\n"
    "         from (packed, kept from the old installation, patched against it).\n"
    "         Attributes: A archive, D folder, S system, H hidden, T temporary,\n"
    "         R read-only.\n"
    "extract  writes the packed folder into DIR (new or empty) with the same bytes,\n"
    "         attributes and modification times; not an update, which holds only\n"
    "         part of its files.\n"
    "\n"
    "Packing the same folder twice gives the same bytes. A progress bar shows on\n"
    "stderr when it is a terminal. Exit codes: 0 done, 1 failed (errors in the\n"
    "script, a damaged or unsafe package, a file that cannot be read or written),\n"
    "2 bad usage; check's own are above.\n";

void Error(const std::string& text) { Print(Stream::Err, "qvpack: " + text + "\n"); }

int UsageError(const std::string& text) {
  Error(text);
  Print(Stream::Err, "Try 'qvpack --help'.\n");
  return kBadUsage;
}

ProgressBar MakeProgressBar() {
  return ProgressBar(IsTerminal(Stream::Err), [](const std::string& text) { Print(Stream::Err, text); });
}

std::string AttributeText(std::uint32_t a) {
  std::string s = "------";
  const struct {
    std::uint32_t bit;
    std::size_t at;
    char letter;
  } kLetters[] = {{kAttrArchive, 0, 'A'}, {kAttrDirectory, 1, 'D'}, {kAttrSystem, 2, 'S'},
                  {kAttrHidden, 3, 'H'}, {kAttrTemporary, 4, 'T'}, {kAttrReadOnly, 5, 'R'}};
  for (const auto& l : kLetters)
    if (a & l.bit) s[l.at] = l.letter;
  return s;
}

struct PackArguments {
  std::string folder, output, script = "setup.ini", stub, icon;
  bool best = false, force = false, xz = false, strict = false;
  int windowLog = kDefaultWindowLog;
};

std::string DefaultStub() {
  const std::string beside = DiskPath(ProgramFolder(), "qvSetup.exe");
  return IsFile(beside) ? beside : std::string(QVPACK_DEFAULT_STUB);
}

// Prints every problem found; false when an error forbids packing.
bool ReportProblems(const std::vector<Problem>& scanProblems, const Plan& plan, const std::string& scriptName,
                    bool force) {
  int errors = 0;
  const std::vector<Problem>* lists[] = {&scanProblems, &plan.problems};
  for (const std::vector<Problem>* list : lists)
    for (const Problem& p : *list) {
      Print(Stream::Err, FormatProblem(scriptName, p) + "\n");
      errors += p.severity == Severity::Error;
    }
  if (errors == 0 || force) return true;
  Error(std::to_string(errors) + (errors == 1 ? " error" : " errors") + ": nothing packed (--force packs anyway)");
  return false;
}

// The setup program wearing the package's icon and version details; the
// program untouched when the script names none and no --icon is given.
// Prints why not and gives null.
std::unique_ptr<pack::ByteSource> DressStub(std::unique_ptr<pack::ByteSource> stub, const std::string& stubPath,
                                            const PackArguments& a, const std::vector<Item>& items,
                                            const Plan& plan) {
  if (!plan.identity && a.icon.empty()) return stub;
  pack::Identity identity;
  const std::string iconPath = !a.icon.empty() ? a.icon : plan.icon ? items[*plan.icon].diskPath : "";
  if (!iconPath.empty()) {
    identity.icon = ReadWholeFile(iconPath);
    if (!identity.icon) {
      Error("cannot read the icon " + iconPath + ": " + LastErrorText());
      return nullptr;
    }
  }
  if (plan.identity) {
    pack::VersionTexts& v = identity.version.emplace();
    v.productName = plan.name;
    v.companyName = plan.publisher;
    v.fileDescription = plan.name.empty() ? "Setup" : plan.name + " Setup";
    v.productVersion = v.fileVersion = plan.version.empty() ? "0.0.0.0" : plan.version;
    v.legalCopyright = plan.copyright;
    const std::size_t cut = a.output.find_last_of("\\/");
    v.originalFilename = cut == std::string::npos ? a.output : a.output.substr(cut + 1);
  }
  const std::optional<std::string> bytes = ReadWholeFile(stubPath);
  std::string dressed;
  const std::string failure = bytes ? pack::ReplaceResources(*bytes, identity, dressed) : LastErrorText();
  if (!failure.empty()) {
    Error("cannot give " + stubPath + " the package's icon and version: " + failure);
    return nullptr;
  }
  return std::make_unique<pack::MemorySource>(std::move(dressed));
}

// The package's entries in the order the program installs them.
std::vector<pack::Input> InputsOf(const std::vector<Item>& items, const Plan& plan, std::uint64_t& files,
                                  std::uint64_t& folders) {
  std::vector<pack::Input> inputs;
  for (std::size_t i : plan.order) {
    const Item& item = items[i];
    pack::Input in;
    in.entry.path = item.path;
    in.entry.attributes = item.attributes;
    in.entry.modified = item.modified;
    in.entry.size = item.size;
    in.diskPath = item.diskPath;
    inputs.push_back(std::move(in));
    (item.IsFolder() ? folders : files) += 1;
  }
  return inputs;
}

int Pack(const PackArguments& a) {
  if (a.xz && (a.best || a.windowLog != kDefaultWindowLog)) {
    Error("--xz takes neither --best nor --window: its blocks and dictionaries are fixed");
    return kBadUsage;
  }
  if (!IsFolder(a.folder)) {
    Error(a.folder + " is no folder");
    return kFailed;
  }
  const std::string stubPath = a.stub.empty() ? DefaultStub() : a.stub;
  std::unique_ptr<pack::ByteSource> stub = OpenFileSource(stubPath);
  if (!stub) {
    Error("cannot read the setup program " + stubPath + ": " + LastErrorText() +
          (a.stub.empty() ? " (name one with --stub)" : ""));
    return kFailed;
  }

  std::vector<Problem> scanProblems;
  const std::vector<Item> items = ScanFolder(a.folder, a.output, scanProblems);
  const Plan plan = PlanPackage(
      items, a.script, [](const Item& item) { return ReadWholeFile(item.diskPath); }, DecodeAnsi,
      pack::IsSafePath);
  const std::string scriptName = plan.script ? items[*plan.script].path : a.script;
  if (!ReportProblems(scanProblems, plan, scriptName, a.force)) return kFailed;
  stub = DressStub(std::move(stub), stubPath, a, items, plan);
  if (!stub) return kFailed;
  std::uint64_t files = 0, folders = 0;
  const std::vector<pack::Input> inputs = InputsOf(items, plan, files, folders);

  std::unique_ptr<OutputFile> out = CreateOutputFile(a.output, true);
  if (!out) {
    Error("cannot write " + a.output + ": " + LastErrorText());
    return kFailed;
  }
  std::uint64_t written = 0;
  out->written = [&written](std::size_t n) { written += n; };
  ProgressBar bar = MakeProgressBar();
  pack::WriteOptions options;
  options.best = a.best;
  options.windowLog = a.windowLog;
  // Blocks of 32 MiB are unpacked side by side, a window and a block per
  // processor; with a larger window, in blocks of twice the window, one
  // thread unpacks them in turn.
  options.blockSize = a.windowLog <= kDefaultWindowLog ? 1u << kDefaultWindowLog : 2u << a.windowLog;
  if (a.xz) {
    // Small blocks, each its own dictionary: the setup program unpacks one
    // per processor and holds two of them per processor.
    options.codec = pack::format::Codec::kLzma2;
    options.windowLog = kXzBlockLog;
    options.blockSize = 1u << kXzBlockLog;
  }
  options.progress = [&bar](std::uint64_t done, std::uint64_t total) { bar.Update(done, total); };
  const std::string failure = pack::WritePackage(*stub, scriptName, inputs, OpenFileSource, *out, options);
  bar.Finish();
  if (!failure.empty()) {
    Error("nothing packed: " + failure);
    return kFailed;
  }
  if (!out->Commit()) {
    Error("cannot write " + a.output + ": " + LastErrorText());
    return kFailed;
  }
  Print(Stream::Out, a.output + ": " + std::to_string(files) + " files, " + std::to_string(folders) + " folders, " +
                         std::to_string(written) + " bytes\n");
  return 0;
}

// check's exit codes.
constexpr int kCheckWarnings = 1;
constexpr int kCheckErrors = 2;

int Check(const PackArguments& a) {
  if (!IsFolder(a.folder)) {
    Error(a.folder + " is no folder");
    return kCheckErrors;
  }
  std::vector<Problem> scanProblems;
  const std::vector<Item> items = ScanFolder(a.folder, "", scanProblems);
  const Plan plan = PlanPackage(
      items, a.script, [](const Item& item) { return ReadWholeFile(item.diskPath); }, DecodeAnsi,
      pack::IsSafePath);
  const std::string scriptName = plan.script ? items[*plan.script].path : a.script;
  int errors = 0, warnings = 0;
  const std::vector<Problem>* lists[] = {&scanProblems, &plan.problems};
  for (const std::vector<Problem>* list : lists)
    for (const Problem& p : *list) {
      Print(Stream::Err, FormatProblem(scriptName, p) + "\n");
      (p.severity == Severity::Error ? errors : warnings) += 1;
    }
  if (errors + warnings > 0)
    Error(std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") + std::to_string(warnings) +
          (warnings == 1 ? " warning" : " warnings"));
  return errors ? kCheckErrors : warnings && a.strict ? kCheckWarnings : 0;
}

int Patch(const PackArguments& a, const std::string& before, const std::string& after) {
  std::unique_ptr<pack::ByteSource> old = OpenFileSource(before), now = OpenFileSource(after);
  if (!old || !now) {
    Error("cannot read " + (old ? after : before) + ": " + LastErrorText());
    return kFailed;
  }
  std::unique_ptr<OutputFile> out = CreateOutputFile(a.output, true);
  if (!out) {
    Error("cannot write " + a.output + ": " + LastErrorText());
    return kFailed;
  }
  std::uint64_t written = 0;
  out->written = [&written](std::size_t n) { written += n; };
  ProgressBar bar = MakeProgressBar();
  pack::WriteOptions options;
  options.best = a.best;
  options.blockSize = 1u << kDefaultWindowLog;
  options.windowLog = kDefaultWindowLog;
  options.progress = [&bar](std::uint64_t done, std::uint64_t total) { bar.Update(done, total); };
  pack::PatchCounts counts;
  const std::string failure = MakePatch({before, *old}, {after, *now}, *out, options, &counts);
  bar.Finish();
  if (!failure.empty()) {
    Error("no update made: " + failure);
    return kFailed;
  }
  if (!out->Commit()) {
    Error("cannot write " + a.output + ": " + LastErrorText());
    return kFailed;
  }
  Print(Stream::Out, a.output + ": " + std::to_string(counts.packed) + " files packed, " +
                         std::to_string(counts.kept) + " kept, " + std::to_string(counts.patched) + " patched, " +
                         std::to_string(written) + " bytes\n");
  return 0;
}

// An opened, verified package; prints why not and gives null.
struct OpenPackage {
  std::unique_ptr<pack::ByteSource> file;
  pack::Reader reader;
};

std::unique_ptr<OpenPackage> Open(const std::string& path) {
  auto p = std::make_unique<OpenPackage>();
  p->file = OpenFileSource(path);
  if (!p->file) {
    Error("cannot read " + path + ": " + LastErrorText());
    return nullptr;
  }
  const std::optional<std::uint64_t> start = pack::OverlayStart(*p->file);
  const pack::OpenStatus status = start ? p->reader.Open(*p->file, *start) : pack::OpenStatus::NoPackage;
  if (status == pack::OpenStatus::NoPackage) {
    Error(path + " holds no package");
    return nullptr;
  }
  if (status == pack::OpenStatus::Damaged) {
    Error(path + ": the package is damaged or unsafe");
    return nullptr;
  }
  for (const pack::Entry& e : p->reader.Entries())
    if (!pack::IsSafePath(e.path)) {
      Error(path + ": unsafe name in the package: " + e.path);
      return nullptr;
    }
  if (!p->reader.Verify()) {
    Error(path + ": the package is damaged (a checksum or a block's header does not match)");
    return nullptr;
  }
  return p;
}

int List(const std::string& path) {
  std::unique_ptr<OpenPackage> p = Open(path);
  if (!p) return kFailed;
  std::string text;
  const bool update = !p->reader.BaseId().empty();
  if (update) text = "update of " + p->reader.BaseId() + " version " + p->reader.BaseVersion() + "\n";
  for (const pack::Entry& e : p->reader.Entries()) {
    std::string size = std::to_string(e.size);
    if (size.size() < 12) size.insert(0, 12 - size.size(), ' ');
    const char* source = e.IsFolder()                         ? "         "
                         : e.source == pack::Source::kKept    ? "kept     "
                         : e.source == pack::Source::kPatched ? "patched  "
                                                              : "packed   ";
    text += AttributeText(e.attributes) + " " + size + "  " + (update ? source : "") + e.path + "\n";
  }
  Print(Stream::Out, text);
  return 0;
}

int Extract(const std::string& path, const std::string& folder) {
  std::unique_ptr<OpenPackage> p = Open(path);
  if (!p) return kFailed;
  if (!p->reader.BaseId().empty()) {
    Error(path + " is an update of " + p->reader.BaseId() + " version " + p->reader.BaseVersion() +
          ": its kept and patched files are in that installation, so it cannot be extracted on its own");
    return kFailed;
  }
  if (FolderHasEntries(folder)) {
    Error(folder + " is not empty: extract writes into a new or empty folder");
    return kFailed;
  }
  if (!IsFolder(folder) && !MakeFolders(folder)) {
    Error("cannot make " + folder + ": " + LastErrorText());
    return kFailed;
  }
  const std::vector<pack::Entry>& entries = p->reader.Entries();
  std::uint64_t total = 0, done = 0;
  for (const pack::Entry& e : entries) total += e.size;
  ProgressBar bar = MakeProgressBar();
  for (const pack::Entry& e : entries) {
    const std::string target = DiskPath(folder, e.path);
    if (e.IsFolder()) {
      if (!MakeFolders(target)) {
        bar.Finish();
        Error("cannot make " + target + ": " + LastErrorText());
        return kFailed;
      }
      continue;
    }
    const std::size_t cut = target.find_last_of("\\/");
    if (cut != std::string::npos) MakeFolders(target.substr(0, cut));
    std::unique_ptr<OutputFile> out = CreateOutputFile(target, false);
    if (!out) {
      bar.Finish();
      Error("cannot write " + target + ": " + LastErrorText());
      return kFailed;
    }
    out->written = [&](std::size_t n) {
      done += n;
      bar.Update(done, total);
    };
    if (!p->reader.Extract(e, *out)) {
      bar.Finish();
      Error(path + ": the package is damaged at " + e.path + " (or " + target + " cannot be written)");
      return kFailed;
    }
    if (!out->Commit()) {
      bar.Finish();
      Error("cannot write " + target + ": " + LastErrorText());
      return kFailed;
    }
    const std::string failure = SetFileDetails(target, e.attributes, e.modified);
    if (!failure.empty()) Error(target + ": " + failure);
  }
  // Folders last and deepest first: writing into a folder changes its time.
  for (auto e = entries.rbegin(); e != entries.rend(); ++e)
    if (e->IsFolder()) {
      const std::string failure = SetFileDetails(DiskPath(folder, e->path), e->attributes, e->modified);
      if (!failure.empty()) Error(DiskPath(folder, e->path) + ": " + failure);
    }
  bar.Finish();
  return 0;
}

// The window's power of two for a --window value in MiB.
std::optional<int> WindowLog(const std::string& mib) {
  for (int log = 23; log <= 27; ++log)
    if (mib == std::to_string(1 << (log - 20))) return log;
  return std::nullopt;
}

// "--name value" or "--name=value".
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name, std::string& value,
               bool& missing) {
  const std::string& a = args[i];
  if (a == name) {
    if (i + 1 >= args.size()) {
      missing = true;
      return true;
    }
    value = args[++i];
    return true;
  }
  if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=') {
    value = a.substr(name.size() + 1);
    return true;
  }
  return false;
}

// One of pack's options at args[i], with its value; false when args[i] is
// none of them. A usage error sets `error`.
bool TakePackOption(const std::vector<std::string>& args, std::size_t& i, PackArguments& pack, std::string& error) {
  const std::string& a = args[i];
  bool missing = false;
  std::string window;
  if (TakeValue(args, i, "--window", window, missing)) {
    const std::optional<int> log = missing ? std::nullopt : WindowLog(window);
    if (missing)
      error = "option " + a + " needs a value";
    else if (!log)
      error = "--window takes 8, 16, 32, 64 or 128";
    else
      pack.windowLog = *log;
    return true;
  }
  if (TakeValue(args, i, "-o", pack.output, missing) || TakeValue(args, i, "--output", pack.output, missing) ||
      TakeValue(args, i, "--script", pack.script, missing) || TakeValue(args, i, "--stub", pack.stub, missing) ||
      TakeValue(args, i, "--icon", pack.icon, missing)) {
    if (missing) error = "option " + a + " needs a value";
    return true;
  }
  if (a == "--xz") {
    pack.xz = true;
    return true;
  }
  if (a != "--best" && a != "--force") return false;
  (a == "--best" ? pack.best : pack.force) = true;
  return true;
}

// The options and operands after the command. Gives the exit code when
// they end the run (help asked for, a usage error), nothing otherwise.
std::optional<int> ReadArguments(const std::vector<std::string>& args, PackArguments& pack,
                                 std::vector<std::string>& operands) {
  const std::string& command = args[0];
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      Print(Stream::Out, kUsage);
      return 0;
    }
    std::string error;
    if ((command == "pack" || command == "patch") && TakePackOption(args, i, pack, error)) {
      if (!error.empty()) return UsageError(error);
      continue;
    }
    bool missing = false;
    if (command == "check" && (a == "--strict" || TakeValue(args, i, "--script", pack.script, missing))) {
      if (missing) return UsageError("option " + a + " needs a value");
      pack.strict = pack.strict || a == "--strict";
      continue;
    }
    if (a.size() > 1 && a[0] == '-') return UsageError("unknown option '" + a + "' for " + command);
    operands.push_back(a);
  }
  return std::nullopt;
}

int RunCommand(const std::string& command, PackArguments& pack, const std::vector<std::string>& operands) {
  if (command == "pack") {
    if (operands.size() != 1) return UsageError("pack takes one FOLDER");
    if (pack.output.empty()) return UsageError("pack needs -o OUT.exe");
    if (pack.script.empty()) return UsageError("--script needs a name");
    pack.folder = operands[0];
    return Pack(pack);
  }
  if (command == "check") {
    if (operands.size() != 1) return UsageError("check takes one FOLDER");
    if (pack.script.empty()) return UsageError("--script needs a name");
    pack.folder = operands[0];
    return Check(pack);
  }
  if (command == "patch") {
    if (operands.size() != 2) return UsageError("patch takes OLD.exe and NEW.exe");
    if (pack.output.empty()) return UsageError("patch needs -o UPDATE.exe");
    // An update is zstd, its files' own, behind NEW.exe's program.
    if (pack.xz || pack.force || !pack.stub.empty() || !pack.icon.empty() || pack.script != "setup.ini" ||
        pack.windowLog != kDefaultWindowLog)
      return UsageError("patch takes -o and --best alone");
    return Patch(pack, operands[0], operands[1]);
  }
  if (command == "list") {
    if (operands.size() != 1) return UsageError("list takes one packed file");
    return List(operands[0]);
  }
  if (operands.size() != 2) return UsageError("extract takes a packed file and a folder");
  return Extract(operands[0], operands[1]);
}

}  // namespace

int Main(const std::vector<std::string>& args) {
  if (args.empty()) {
    Print(Stream::Err, kUsage);
    return kBadUsage;
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    Print(Stream::Out, kUsage);
    return 0;
  }
  if (command == "--version") {
    Print(Stream::Out, "qvpack " QV_VERSION_TEXT "\n");
    return 0;
  }
  if (command != "pack" && command != "check" && command != "patch" && command != "list" && command != "extract")
    return UsageError("unknown command '" + command + "'");
  PackArguments pack;
  std::vector<std::string> operands;
  if (const std::optional<int> done = ReadArguments(args, pack, operands)) return *done;
  return RunCommand(command, pack, operands);
}

}  // namespace qv::qvpack

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(qv::WideToUtf8(argv[i]));
  return qv::qvpack::Main(args);
}
#else
int main(int argc, char** argv) { return qv::qvpack::Main(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
