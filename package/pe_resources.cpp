// The resource tree is read whole, changed, and laid out afresh: its offsets
// and RVAs all move with the new section, so patching in place would not do.
#include "package/pe_resources.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "framework/portable/little_endian.h"
#include "framework/portable/utf8.h"
#include "package/memory_bytes.h"
#include "package/pe.h"

namespace qv::pack {

namespace {

constexpr std::uint32_t kIcon = 3, kGroupIcon = 14, kVersion = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint16_t kEnglishUs = 0x0409;

// A resource directory: a header with its count of named entries and of
// numbered ones, then an entry each (name or id, then where it leads). A
// data entry: where the data lies (an RVA), its size and its code page.
constexpr std::uint64_t kDirectoryHeader = 16, kNamedCount = 12, kIdCount = 14;
constexpr std::uint64_t kDirectoryEntry = 8, kEntryTarget = 4;
constexpr std::uint64_t kDataEntry = 16, kDataRva = 0, kDataSize = 4, kDataCodePage = 8;
std::uint64_t DirectorySize(std::size_t entries) { return kDirectoryHeader + kDirectoryEntry * entries; }

std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }
void PadTo(std::string& b, std::size_t a) { b.resize(AlignUp(b.size(), a), '\0'); }

// A name or id at one level of the tree, in the order the directory keeps:
// names first, by their code units, then ids.
struct Key {
  bool named = false;
  std::u16string name;
  std::uint32_t id = 0;
  bool operator<(const Key& o) const {
    if (named != o.named) return named;
    return named ? name < o.name : id < o.id;
  }
};
Key Id(std::uint32_t id) { return {false, {}, id}; }

struct Leaf {
  std::string data;
  std::uint32_t codePage = 0;
};
using Languages = std::map<Key, Leaf>;
using Names = std::map<Key, Languages>;
using Tree = std::map<Key, Names>;

using pe::Section;

class TreeReader {
 public:
  TreeReader(const std::string& file, const std::vector<Section>& sections, std::uint64_t rva, std::uint64_t size)
      : file_(file), sections_(sections), rva_(rva), size_(size) {}

  std::string Read(Tree& tree) {
    std::string error = Directory(0, 0, [&](const Key& type, std::uint64_t at) {
      return Directory(at, 1, [&](const Key& name, std::uint64_t at2) {
        return Directory(at2, 2, [&](const Key& language, std::uint64_t entry) {
          return Data(entry, tree[type][name][language]);
        });
      });
    });
    return error;
  }

 private:
  // Where `n` bytes at `rva` lie in the file, when a section holds them.
  std::optional<std::uint64_t> FileOffset(std::uint64_t rva, std::uint64_t n) const {
    for (const Section& s : sections_)
      if (rva >= s.va && rva - s.va < s.rawSize && s.rawSize - (rva - s.va) >= n) return s.rawPointer + (rva - s.va);
    return std::nullopt;
  }
  // `n` bytes at `offset` within the resource directory.
  std::optional<std::uint64_t> Inside(std::uint64_t offset, std::uint64_t n) const {
    if (offset > size_ || size_ - offset < n) return std::nullopt;
    return FileOffset(rva_ + offset, n);
  }

  template <typename Visit>
  std::string Directory(std::uint64_t offset, int level, Visit visit) {
    const std::optional<std::uint64_t> head = Inside(offset, kDirectoryHeader);
    if (!head) return "a resource directory lies outside the resources";
    const char* header = file_.data() + *head;
    const std::uint64_t count = LoadLe16(header + kNamedCount) + LoadLe16(header + kIdCount);
    const std::optional<std::uint64_t> entries = Inside(offset + kDirectoryHeader, kDirectoryEntry * count);
    if (!entries) return "a resource directory lies outside the resources";
    // Directories shared between entries could make a small file a huge tree.
    visited_ += count;
    if (visited_ > size_ / kDirectoryEntry) return "the resource directories refer to each other";
    for (std::uint64_t i = 0; i < count; ++i) {
      const char* entry = file_.data() + *entries + kDirectoryEntry * i;
      const std::uint64_t nameField = LoadLe32(entry), target = LoadLe32(entry + kEntryTarget);
      Key key = Id(static_cast<std::uint32_t>(nameField));
      if (nameField & kHighBit) {
        const std::optional<std::uint64_t> length = Inside(nameField & ~kHighBit, 2);
        const std::uint64_t units = length ? LoadLe16(file_.data() + *length) : 0;
        const std::optional<std::uint64_t> text = Inside((nameField & ~kHighBit) + 2, 2 * units);
        if (!text) return "a resource name lies outside the resources";
        key.named = true;
        for (std::uint64_t u = 0; u < units; ++u) key.name.push_back(LoadLe16(file_.data() + *text + 2 * u));
      }
      // Types and names lead to directories, languages to data.
      if (((target & kHighBit) != 0) != (level < 2)) return "the resource tree is not three levels deep";
      std::string error = visit(key, target & ~kHighBit);
      if (!error.empty()) return error;
    }
    return {};
  }

  std::string Data(std::uint64_t offset, Leaf& leaf) {
    const std::optional<std::uint64_t> entry = Inside(offset, kDataEntry);
    if (!entry) return "a resource data entry lies outside the resources";
    const char* fields = file_.data() + *entry;
    const std::uint64_t rva = LoadLe32(fields + kDataRva), size = LoadLe32(fields + kDataSize);
    const std::optional<std::uint64_t> at = FileOffset(rva, size);
    copied_ += size;
    if (!at || copied_ > (1u << 30)) return "resource data lies outside the program's sections";
    leaf.data = file_.substr(*at, size);
    leaf.codePage = LoadLe32(fields + kDataCodePage);
    return {};
  }

  const std::string& file_;
  const std::vector<Section>& sections_;
  std::uint64_t rva_, size_, visited_ = 0, copied_ = 0;
};

// The tree as a resource section at `va`: directories breadth first, data
// entries, names, then the data. Each part is sized first; the level below
// a directory is placed when the directory is written.
class Layout {
 public:
  Layout(const Tree& tree, std::uint64_t va) : tree_(tree), va_(va) {}

  std::string Run() {
    Reserve();
    std::vector<std::pair<std::uint64_t, const Names*>> typeDirs;
    std::vector<std::pair<std::uint64_t, const Languages*>> nameDirs;
    WriteDirectory(NewDirectory(tree_.size()), tree_, [&](const Names& byName) {
      typeDirs.push_back({nextDir_, &byName});
      return NewDirectory(byName.size()) | kHighBit;
    });
    for (const auto& [at, byName] : typeDirs)
      WriteDirectory(at, *byName, [&](const Languages& byLanguage) {
        nameDirs.push_back({nextDir_, &byLanguage});
        return NewDirectory(byLanguage.size()) | kHighBit;
      });
    for (const auto& [at, byLanguage] : nameDirs)
      WriteDirectory(at, *byLanguage, [&](const Leaf& leaf) { return DataEntry(leaf); });
    for (const auto& [at, byLanguage] : nameDirs)
      for (const auto& each : *byLanguage) {
        out_ += each.second.data;
        PadTo(out_, 8);
      }
    return std::move(out_);
  }

 private:
  static std::uint64_t NameSize(const Key& k) { return k.named ? 2 + 2 * k.name.size() : 0; }

  // Room for every directory, data entry and name; the data follow.
  void Reserve() {
    std::uint64_t dirs = DirectorySize(tree_.size()), leaves = 0, names = 0;
    for (const auto& [type, byName] : tree_) {
      dirs += DirectorySize(byName.size());
      names += NameSize(type);
      for (const auto& [name, byLanguage] : byName) {
        dirs += DirectorySize(byLanguage.size());
        names += NameSize(name);
        for (const auto& each : byLanguage) names += NameSize(each.first), ++leaves;
      }
    }
    nextEntry_ = dirs;
    nextName_ = dirs + kDataEntry * leaves;
    nextData_ = AlignUp(nextName_ + names, 8);
    out_.assign(nextData_, '\0');
  }

  std::uint64_t NewDirectory(std::size_t entries) {
    const std::uint64_t at = nextDir_;
    nextDir_ += DirectorySize(entries);
    return at;
  }

  // An id as it is, a name written out and pointed to.
  std::uint64_t NameField(const Key& k) {
    if (!k.named) return k.id;
    const std::uint64_t at = nextName_;
    StoreLe(out_.data() + at, k.name.size(), 2);
    for (std::size_t i = 0; i < k.name.size(); ++i) StoreLe(out_.data() + at + 2 + 2 * i, k.name[i], 2);
    nextName_ += NameSize(k);
    return at | kHighBit;
  }

  std::uint64_t DataEntry(const Leaf& leaf) {
    const std::uint64_t at = nextEntry_;
    StoreLe(out_.data() + at + kDataRva, va_ + nextData_, 4);
    StoreLe(out_.data() + at + kDataSize, leaf.data.size(), 4);
    StoreLe(out_.data() + at + kDataCodePage, leaf.codePage, 4);
    nextEntry_ += kDataEntry;
    nextData_ = AlignUp(nextData_ + leaf.data.size(), 8);
    return at;
  }

  // The directory at `at`: its counts, then an entry per key leading where
  // `target` places what the key holds.
  template <typename Map, typename Target>
  void WriteDirectory(std::uint64_t at, const Map& map, Target target) {
    std::size_t named = 0;
    for (const auto& each : map) named += each.first.named;
    StoreLe(out_.data() + at + kNamedCount, named, 2);
    StoreLe(out_.data() + at + kIdCount, map.size() - named, 2);
    std::uint64_t entry = at + kDirectoryHeader;
    for (const auto& [key, value] : map) {
      StoreLe(out_.data() + entry, NameField(key), 4);
      StoreLe(out_.data() + entry + kEntryTarget, target(value), 4);
      entry += kDirectoryEntry;
    }
  }

  const Tree& tree_;
  const std::uint64_t va_;
  std::string out_;
  std::uint64_t nextDir_ = 0, nextEntry_ = 0, nextName_ = 0, nextData_ = 0;
};

// The icon ids a group's directory names.
std::vector<std::uint32_t> GroupIds(const std::string& group) {
  std::vector<std::uint32_t> ids;
  const std::uint64_t count = group.size() >= 6 ? LoadLe16(group.data() + 4) : 0;
  for (std::uint64_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i)
    ids.push_back(static_cast<std::uint32_t>(LoadLe16(group.data() + 6 + 14 * i + 12)));
  return ids;
}

// The program's first icon group (the one the shell shows) becomes the
// .ico's images; icons no other group uses go.
void ReplaceIcon(Tree& tree, const std::string& ico) {
  Names& groups = tree[Id(kGroupIcon)];
  Names& icons = tree[Id(kIcon)];
  Key groupName = Id(1);
  Languages languages;
  if (!groups.empty()) {
    groupName = groups.begin()->first;
    languages = groups.begin()->second;
    groups.erase(groups.begin());
  }
  if (languages.empty()) languages[Id(0)] = {};
  std::set<std::uint32_t> kept;
  for (const auto& [name, byLanguage] : groups)
    for (const auto& each : byLanguage)
      for (std::uint32_t id : GroupIds(each.second.data)) kept.insert(id);
  for (const auto& each : languages)
    for (std::uint32_t id : GroupIds(each.second.data))
      if (!kept.count(id)) icons.erase(Id(id));

  const std::uint64_t count = LoadLe16(ico.data() + 4);
  std::string group;
  AppendLe(group, 0, 2);
  AppendLe(group, 1, 2);
  AppendLe(group, count, 2);
  std::uint32_t id = 1;
  for (std::uint64_t i = 0; i < count; ++i) {
    while (icons.count(Id(id))) ++id;
    const std::uint64_t entry = 6 + 16 * i;
    group += ico.substr(entry, 12);
    AppendLe(group, id, 2);
    const std::string image = ico.substr(LoadLe32(ico.data() + entry + 12), LoadLe32(ico.data() + entry + 8));
    icons[Id(id)][languages.begin()->first] = {image, 0};
  }
  for (auto& each : languages) each.second = {group, 0};
  groups[groupName] = languages;
}

// One VS_VERSIONINFO-style block: header, key, value, children, each on a
// 4-byte boundary.
std::string Block(const std::u16string& key, bool text, const std::string& value, std::uint16_t valueLength,
                  const std::vector<std::string>& children) {
  std::string b(6, '\0');
  for (char16_t c : key) AppendLe(b, c, 2);
  AppendLe(b, 0, 2);
  PadTo(b, 4);
  b += value;
  for (const std::string& child : children) {
    PadTo(b, 4);
    b += child;
  }
  StoreLe(b.data(), b.size(), 2);
  StoreLe(b.data() + 2, valueLength, 2);
  StoreLe(b.data() + 4, text ? 1 : 0, 2);
  return b;
}

std::uint64_t Checksum(const std::string& b, std::uint64_t field) {
  std::uint64_t sum = 0;
  for (std::uint64_t i = 0; i < b.size(); i += 2) {
    if (i == field || i == field + 2) continue;
    sum += LoadLe(b.data() + i, i + 1 < b.size() ? 2 : 1);  // an odd last byte alone
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + b.size();
}

bool PowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0 && v <= (1u << 28); }

}  // namespace

std::optional<std::array<std::uint16_t, 4>> ParseVersionNumbers(std::string_view text) {
  std::array<std::uint16_t, 4> parts{};
  std::size_t n = 0;
  for (;;) {
    const std::size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (n == 4 || part.empty() || part.size() > 5) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (v > 0xFFFF) return std::nullopt;
    parts[n++] = static_cast<std::uint16_t>(v);
    if (dot == std::string_view::npos) return parts;
    text.remove_prefix(dot + 1);
  }
}

std::string IcoProblem(std::string_view ico) {
  if (ico.size() < 6 || LoadLe16(ico.data()) != 0 || LoadLe16(ico.data() + 2) != 1) return "no .ico file";
  const std::uint64_t count = LoadLe16(ico.data() + 4);
  if (count == 0) return "an .ico file without images";
  if (ico.size() < 6 + 16 * count) return "an .ico file cut short";
  for (std::uint64_t i = 0; i < count; ++i) {
    const char* entry = ico.data() + 6 + 16 * i;
    const std::uint64_t size = LoadLe32(entry + 8), offset = LoadLe32(entry + 12);
    if (size == 0 || offset > ico.size() || ico.size() - offset < size) return "an .ico file cut short";
  }
  return {};
}

std::string VersionResource(const VersionTexts& texts) {
  const auto file = ParseVersionNumbers(texts.fileVersion), product = ParseVersionNumbers(texts.productVersion);
  std::string fixed;
  const auto pair = [&](const std::array<std::uint16_t, 4>& v) {
    AppendLe(fixed, (std::uint32_t{v[0]} << 16) | v[1], 4);
    AppendLe(fixed, (std::uint32_t{v[2]} << 16) | v[3], 4);
  };
  AppendLe(fixed, 0xFEEF04BD, 4);  // signature
  AppendLe(fixed, 0x00010000, 4);  // structure version
  pair(file.value_or(std::array<std::uint16_t, 4>{}));
  pair(product.value_or(std::array<std::uint16_t, 4>{}));
  AppendLe(fixed, 0x3F, 4);        // flags mask
  AppendLe(fixed, 0, 4);           // flags
  AppendLe(fixed, 0x00040004, 4);  // VOS_NT_WINDOWS32
  AppendLe(fixed, 1, 4);           // VFT_APP
  AppendLe(fixed, 0, 4);           // subtype
  AppendLe(fixed, 0, 8);           // no date: the same inputs give the same bytes

  const std::pair<const char16_t*, const std::string*> fields[] = {
      {u"CompanyName", &texts.companyName},       {u"FileDescription", &texts.fileDescription},
      {u"FileVersion", &texts.fileVersion},       {u"LegalCopyright", &texts.legalCopyright},
      {u"OriginalFilename", &texts.originalFilename}, {u"ProductName", &texts.productName},
      {u"ProductVersion", &texts.productVersion}};
  std::vector<std::string> strings;
  for (const auto& [name, value] : fields) {
    if (value->empty()) continue;
    const std::u16string units = Utf8ToUtf16(*value);
    std::string v;
    for (char16_t c : units) AppendLe(v, c, 2);
    AppendLe(v, 0, 2);
    strings.push_back(Block(name, true, v, static_cast<std::uint16_t>(units.size() + 1), {}));
  }
  std::string translation;
  AppendLe(translation, kEnglishUs, 2);
  AppendLe(translation, 0x04B0, 2);  // Unicode
  const std::string stringInfo = Block(u"StringFileInfo", true, {}, 0, {Block(u"040904B0", true, {}, 0, strings)});
  const std::string varInfo = Block(u"VarFileInfo", true, {}, 0, {Block(u"Translation", false, translation, 4, {})});
  return Block(u"VS_VERSION_INFO", false, fixed, static_cast<std::uint16_t>(fixed.size()), {stringInfo, varInfo});
}

namespace {

std::string IdentityProblem(const Identity& identity) {
  if (identity.icon) {
    const std::string problem = IcoProblem(*identity.icon);
    if (!problem.empty()) return "the icon is " + problem;
  }
  if (identity.version && (!ParseVersionNumbers(identity.version->fileVersion) ||
                           !ParseVersionNumbers(identity.version->productVersion)))
    return "a version is not numbers a.b.c.d";
  return {};
}

// The setup program as the writer finds it: its headers, where its
// sections end in the file and in memory, and where its resources lie.
struct Program {
  pe::Headers headers;
  pe::OptionalHeader optional;
  std::vector<Section> sections;
  std::uint64_t rawEnd = 0, virtualEnd = 0, firstRaw = 0;
  std::uint64_t resourceRva = 0, resourceSize = 0;
};

constexpr char kNotPe[] = "the setup program is no PE program";

// An error text, empty when the headers are sound and leave a place for
// the resources.
std::string ReadProgram(const std::string& image, Program& p) {
  MemorySource file(image);
  const std::optional<pe::Headers> headers = pe::ReadHeaders(file);
  const std::optional<pe::OptionalHeader> optional = headers ? pe::ReadOptionalHeader(file, *headers) : std::nullopt;
  if (!optional) return kNotPe;
  if (optional->directoryCount <= pe::kResourceDirectory || !optional->directoriesFit)
    return "the setup program has no place for a resource directory";
  const auto directory = [&](std::size_t index, std::size_t field) {
    return LoadLe32(image.data() + optional->Directory(index) + field);
  };
  if (optional->directoryCount > pe::kCertificateDirectory &&
      directory(pe::kCertificateDirectory, pe::kDirectoryLength) != 0)
    return "the setup program is signed: sign it after packing";
  if (!PowerOfTwo(optional->sectionAlignment) || !PowerOfTwo(optional->fileAlignment)) return kNotPe;
  std::optional<std::vector<Section>> sections = pe::ReadSections(file, *headers);
  if (!sections) return kNotPe;
  p.rawEnd = headers->SectionTableEnd();
  p.firstRaw = image.size();
  for (const Section& s : *sections) {
    if (s.rawSize != 0) {
      if (s.rawPointer > image.size() || image.size() - s.rawPointer < s.rawSize)
        return "a section of the setup program lies outside the file";
      p.rawEnd = std::max(p.rawEnd, s.rawPointer + s.rawSize);
      p.firstRaw = std::min(p.firstRaw, s.rawPointer);
    }
    p.virtualEnd = std::max(p.virtualEnd, s.VirtualEnd());
  }
  p.headers = *headers;
  p.optional = *optional;
  p.sections = std::move(*sections);
  p.resourceRva = directory(pe::kResourceDirectory, pe::kDirectoryAddress);
  p.resourceSize = directory(pe::kResourceDirectory, pe::kDirectoryLength);
  return {};
}

// Where the new resources go: over the last section when the resources
// fill it and it lies last in the file and in memory; otherwise into a new
// section after all others, its entry in the headers' spare room.
struct Placement {
  bool inPlace = false;
  std::uint64_t header = 0, va = 0, rawPointer = 0;
};

std::string Place(const std::string& image, const Program& p, Placement& at) {
  const Section* last = p.sections.empty() ? nullptr : &p.sections.back();
  at.inPlace = last && p.resourceSize != 0 && last->va == p.resourceRva && last->VirtualEnd() == p.virtualEnd &&
               last->rawSize != 0 && last->rawPointer + last->rawSize == p.rawEnd;
  if (at.inPlace) {
    at.header = last->header, at.va = last->va, at.rawPointer = last->rawPointer;
    return {};
  }
  const std::uint64_t tableEnd = p.headers.SectionTableEnd();
  if (tableEnd + pe::kSectionHeaderSize > std::min<std::uint64_t>(p.optional.headersSize, p.firstRaw) ||
      image.find_first_not_of('\0', tableEnd) < tableEnd + pe::kSectionHeaderSize)
    return "the setup program's headers have no room for another section";
  at.header = tableEnd;
  at.va = AlignUp(p.virtualEnd, p.optional.sectionAlignment);
  at.rawPointer = AlignUp(p.rawEnd, p.optional.fileAlignment);
  return {};
}

// A new section's entry: its name and kind, and one more in the count.
void AddSectionHeader(std::string& out, const Program& p, const Placement& at) {
  out.replace(at.header + pe::kSectionName, 8, std::string(".rsrc\0\0\0", 8));
  StoreLe(out.data() + at.header + pe::kSectionCharacteristics, 0x40000040, 4);  // initialized data, readable
  StoreLe(out.data() + p.headers.fileHeader + pe::kSectionCount, p.headers.sectionCount + 1, 2);
}

// `out` with the resources in their section and the headers saying so.
std::string WriteSection(const std::string& image, const Program& p, const Placement& at,
                         const std::string& resources, std::string& out) {
  const std::uint64_t rawSize = AlignUp(resources.size(), p.optional.fileAlignment);
  if (at.va + resources.size() > 0xFFFFFFFFu || at.rawPointer + rawSize > 0xFFFFFFFFu)
    return "the setup program grows too big";
  std::string section = resources;
  section.resize(rawSize, '\0');
  const std::string trailing = image.substr(p.rawEnd);
  out.resize(at.inPlace ? at.rawPointer : p.rawEnd);
  out.resize(at.rawPointer, '\0');
  out += section + trailing;

  char* header = out.data() + at.header;
  StoreLe(header + pe::kVirtualSize, resources.size(), 4);
  StoreLe(header + pe::kVirtualAddress, at.va, 4);
  StoreLe(header + pe::kRawSize, rawSize, 4);
  StoreLe(header + pe::kRawPointer, at.rawPointer, 4);
  char* directory = out.data() + p.optional.Directory(pe::kResourceDirectory);
  StoreLe(directory + pe::kDirectoryAddress, at.va, 4);
  StoreLe(directory + pe::kDirectoryLength, resources.size(), 4);
  const std::uint64_t optional = p.optional.at;
  StoreLe(out.data() + optional + pe::kImageSize, AlignUp(at.va + resources.size(), p.optional.sectionAlignment), 4);
  StoreLe(out.data() + optional + pe::kChecksum, Checksum(out, optional + pe::kChecksum), 4);
  return {};
}

}  // namespace

std::string ReplaceResources(const std::string& pe, const Identity& identity, std::string& out) {
  if (std::string problem = IdentityProblem(identity); !problem.empty()) return problem;
  Program program;
  if (std::string problem = ReadProgram(pe, program); !problem.empty()) return problem;
  Tree tree;
  if (program.resourceSize != 0) {
    const std::string error = TreeReader(pe, program.sections, program.resourceRva, program.resourceSize).Read(tree);
    if (!error.empty()) return "the setup program's resources are damaged: " + error;
  }
  if (identity.icon) ReplaceIcon(tree, *identity.icon);
  if (identity.version) tree[Id(kVersion)] = {{Id(1), {{Id(kEnglishUs), {VersionResource(*identity.version), 0}}}}};

  out = pe;
  Placement at;
  if (std::string problem = Place(pe, program, at); !problem.empty()) return problem;
  if (!at.inPlace) AddSectionHeader(out, program, at);
  return WriteSection(pe, program, at, Layout(tree, at.va).Run(), out);
}

}  // namespace qv::pack
