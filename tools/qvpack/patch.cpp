// qvpack patch (patch.h): the two packages opened and checked as belonging
// together, then the package library's update.
#include "tools/qvpack/patch.h"

#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "engine/script.h"
#include "framework/portable/file_name_case.h"
#include "tools/qvpack/script_check.h"
#include "package/memory_bytes.h"
#include "package/package.h"

namespace qv::qvpack {
namespace {

// The first `size` bytes of a file: the setup program before its package.
class Head : public pack::ByteSource {
 public:
  Head(pack::ByteSource& file, std::uint64_t size) : file_(file), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) override {
    return offset <= size_ && n <= size_ - offset && file_.ReadAt(offset, buffer, n);
  }

 private:
  pack::ByteSource& file_;
  std::uint64_t size_;
};

struct Opened {
  pack::Reader reader;
  std::uint64_t start = 0;
  std::optional<std::string> id, version;  // [UNINSTALL]'s, as the script's bytes have them
};

std::string Open(const PackedFile& file, Opened& opened) {
  const std::optional<std::uint64_t> start = pack::OverlayStart(file.bytes);
  const pack::OpenStatus status = start ? opened.reader.Open(file.bytes, *start) : pack::OpenStatus::NoPackage;
  if (status == pack::OpenStatus::NoPackage) return file.name + " holds no package";
  if (status == pack::OpenStatus::Damaged || !opened.reader.Verify())
    return file.name + ": the package is damaged or unsafe";
  if (!opened.reader.BaseId().empty())
    return file.name + " is an update itself: make updates from the full packages";
  opened.start = *start;
  pack::MemorySink script;
  if (!opened.reader.Extract(*opened.reader.Find(opened.reader.Script()), script))
    return file.name + ": the package is damaged at its script";
  // The engine's own reading of the script; the values are compared as bytes.
  const ScriptEncoding encoding = DetectEncoding(script.bytes);
  const IniText ini(ScriptText(script.bytes, encoding), encoding != ScriptEncoding::Ansi);
  opened.id = ini.Value("UNINSTALL", "Id");
  // As the setup program registers it: [SETUP]'s where [UNINSTALL] has none.
  opened.version = ini.Value("UNINSTALL", "Version");
  if (!opened.version) opened.version = ini.Value("SETUP", "Version");
  if (!opened.id || opened.id->empty())
    return file.name + ": its script has no [UNINSTALL] Id, which an update must name";
  return "";
}

// The files an installation of the package installs (their keys): the
// only ones an installed base has. Never the script, which the setup
// program reads from its package before anything is installed.
std::set<std::string> InstalledFiles(pack::Reader& reader) {
  std::vector<Item> items;
  for (const pack::Entry& e : reader.Entries()) items.push_back({e.path, e.attributes, e.modified, e.size, ""});
  const ItemLoader load = [&reader](const Item& item) -> std::optional<std::string> {
    const pack::Entry* e = reader.Find(item.path);
    pack::MemorySink bytes;
    if (!e || !reader.Extract(*e, bytes)) return std::nullopt;
    return std::move(bytes.bytes);
  };
  const Plan plan = PlanPackage(items, reader.Script(), load, nullptr, pack::IsSafePath);
  std::set<std::string> installed;
  for (std::size_t i = 0; i < items.size() && i < plan.installed.size(); ++i)
    if (plan.installed[i] && !items[i].IsFolder() && i != plan.script) installed.insert(FileNameKey(items[i].path));
  return installed;
}

}  // namespace

std::string MakePatch(const PackedFile& before, const PackedFile& after, pack::ByteSink& out,
                      const pack::WriteOptions& options, pack::PatchCounts* counts) {
  Opened base, next;
  if (std::string error = Open(before, base); !error.empty()) return error;
  if (std::string error = Open(after, next); !error.empty()) return error;
  if (*base.id != *next.id)
    return "not one product: [UNINSTALL] Id is \"" + *base.id + "\" in " + before.name + ", \"" + *next.id +
           "\" in " + after.name;
  const std::string version = base.version.value_or("");
  if (version == next.version.value_or(""))
    return "both packages are version \"" + version + "\" ([UNINSTALL] Version): nothing to update";
  Head program(after.bytes, next.start);
  const std::set<std::string> was = InstalledFiles(base.reader), is = InstalledFiles(next.reader);
  const auto fromBase = [&](const pack::Entry& e) {
    const std::string key = FileNameKey(e.path);
    return was.count(key) && is.count(key);
  };
  return pack::WritePatch(base.reader, next.reader, program, *base.id, version, fromBase, out, options, counts);
}

}  // namespace qv::qvpack
