// The resource tree is read whole, changed, and laid out afresh: its offsets
// and RVAs all move with the new section, so patching in place would not do.
#include "package/pe_resources.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "framework/portable/little_endian.h"
#include "framework/portable/utf8.h"

namespace qv::pack {

namespace {

constexpr std::uint32_t kIcon = 3, kGroupIcon = 14, kVersion = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint16_t kEnglishUs = 0x0409;

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

struct Section {
  std::uint64_t header, va, virtualSize, rawSize, rawPointer;
  std::uint64_t VirtualEnd() const { return va + std::max(virtualSize, rawSize); }
};

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
    const std::optional<std::uint64_t> head = Inside(offset, 16);
    if (!head) return "a resource directory lies outside the resources";
    const std::uint64_t count = LoadLe16(file_.data() + *head + 12) + LoadLe16(file_.data() + *head + 14);
    const std::optional<std::uint64_t> entries = Inside(offset + 16, 8 * count);
    if (!entries) return "a resource directory lies outside the resources";
    // Directories shared between entries could make a small file a huge tree.
    visited_ += count;
    if (visited_ > size_ / 8) return "the resource directories refer to each other";
    for (std::uint64_t i = 0; i < count; ++i) {
      const char* entry = file_.data() + *entries + 8 * i;
      const std::uint64_t nameField = LoadLe32(entry), target = LoadLe32(entry + 4);
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
    const std::optional<std::uint64_t> entry = Inside(offset, 16);
    if (!entry) return "a resource data entry lies outside the resources";
    const std::uint64_t rva = LoadLe32(file_.data() + *entry), size = LoadLe32(file_.data() + *entry + 4);
    const std::optional<std::uint64_t> at = FileOffset(rva, size);
    copied_ += size;
    if (!at || copied_ > (1u << 30)) return "resource data lies outside the program's sections";
    leaf.data = file_.substr(*at, size);
    leaf.codePage = static_cast<std::uint32_t>(LoadLe32(file_.data() + *entry + 8));
    return {};
  }

  const std::string& file_;
  const std::vector<Section>& sections_;
  std::uint64_t rva_, size_, visited_ = 0, copied_ = 0;
};

// The tree as a resource section at `va`: directories breadth first, data
// entries, names, then the data.
std::string LayOut(const Tree& tree, std::uint64_t va) {
  const auto dirSize = [](std::size_t n) { return 16 + 8 * n; };
  std::uint64_t dirs = dirSize(tree.size()), leaves = 0, names = 0;
  const auto nameSize = [](const Key& k) { return k.named ? 2 + 2 * k.name.size() : 0; };
  for (const auto& [type, byName] : tree) {
    dirs += dirSize(byName.size());
    names += nameSize(type);
    for (const auto& [name, byLanguage] : byName) {
      dirs += dirSize(byLanguage.size());
      names += nameSize(name);
      for (const auto& each : byLanguage) names += nameSize(each.first), ++leaves;
    }
  }
  std::uint64_t nextDir = 0, nextEntry = dirs, nextName = dirs + 16 * leaves;
  std::uint64_t nextData = AlignUp(nextName + names, 8);
  std::string out(nextData, '\0');

  const auto nameField = [&](const Key& k) -> std::uint64_t {
    if (!k.named) return k.id;
    const std::uint64_t at = nextName;
    StoreLe(out.data() + at, k.name.size(), 2);
    for (std::size_t i = 0; i < k.name.size(); ++i) StoreLe(out.data() + at + 2 + 2 * i, k.name[i], 2);
    nextName += nameSize(k);
    return at | kHighBit;
  };
  // Writes a directory's header at `at`; its entries follow.
  const auto header = [&](std::uint64_t at, const auto& map) {
    std::size_t named = 0;
    for (const auto& each : map) named += each.first.named;
    StoreLe(out.data() + at + 12, named, 2);
    StoreLe(out.data() + at + 14, map.size() - named, 2);
  };

  std::uint64_t root = nextDir;
  nextDir += dirSize(tree.size());
  header(root, tree);
  std::size_t t = 0;
  // The level below each directory is placed when the level above it is written.
  std::vector<std::pair<std::uint64_t, const Names*>> typeDirs;
  for (const auto& [type, byName] : tree) {
    StoreLe(out.data() + root + 16 + 8 * t, nameField(type), 4);
    StoreLe(out.data() + root + 16 + 8 * t + 4, nextDir | kHighBit, 4);
    typeDirs.push_back({nextDir, &byName});
    nextDir += dirSize(byName.size());
    ++t;
  }
  std::vector<std::pair<std::uint64_t, const Languages*>> nameDirs;
  for (const auto& [at, byName] : typeDirs) {
    header(at, *byName);
    std::size_t n = 0;
    for (const auto& [name, byLanguage] : *byName) {
      StoreLe(out.data() + at + 16 + 8 * n, nameField(name), 4);
      StoreLe(out.data() + at + 16 + 8 * n + 4, nextDir | kHighBit, 4);
      nameDirs.push_back({nextDir, &byLanguage});
      nextDir += dirSize(byLanguage.size());
      ++n;
    }
  }
  for (const auto& [at, byLanguage] : nameDirs) {
    header(at, *byLanguage);
    std::size_t l = 0;
    for (const auto& [language, leaf] : *byLanguage) {
      StoreLe(out.data() + at + 16 + 8 * l, nameField(language), 4);
      StoreLe(out.data() + at + 16 + 8 * l + 4, nextEntry, 4);
      StoreLe(out.data() + nextEntry, va + nextData, 4);
      StoreLe(out.data() + nextEntry + 4, leaf.data.size(), 4);
      StoreLe(out.data() + nextEntry + 8, leaf.codePage, 4);
      nextEntry += 16;
      nextData = AlignUp(nextData + leaf.data.size(), 8);
      ++l;
    }
  }
  for (const auto& [at, byLanguage] : nameDirs)
    for (const auto& each : *byLanguage) {
      out += each.second.data;
      PadTo(out, 8);
    }
  return out;
}

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

std::string ReplaceResources(const std::string& pe, const Identity& identity, std::string& out) {
  if (identity.icon) {
    const std::string problem = IcoProblem(*identity.icon);
    if (!problem.empty()) return "the icon is " + problem;
  }
  if (identity.version && (!ParseVersionNumbers(identity.version->fileVersion) ||
                           !ParseVersionNumbers(identity.version->productVersion)))
    return "a version is not numbers a.b.c.d";

  const std::string notPe = "the setup program is no PE program";
  if (pe.size() < 64 || pe[0] != 'M' || pe[1] != 'Z') return notPe;
  const std::uint64_t peAt = LoadLe32(pe.data() + 0x3C);
  if (peAt > pe.size() || pe.size() - peAt < 24 || pe.compare(peAt, 4, std::string("PE\0\0", 4)) != 0) return notPe;
  const std::uint64_t coff = peAt + 4, opt = coff + 20;
  const std::uint64_t sectionCount = LoadLe16(pe.data() + coff + 2), optSize = LoadLe16(pe.data() + coff + 16);
  if (pe.size() < opt + 2) return notPe;
  const std::uint64_t magic = LoadLe16(pe.data() + opt);
  if (magic != 0x10B && magic != 0x20B) return notPe;
  const std::uint64_t countAt = opt + (magic == 0x10B ? 92 : 108), directories = countAt + 4;
  if (optSize < directories - opt + 4 || pe.size() < opt + optSize) return notPe;
  const std::uint64_t directoryCount = LoadLe32(pe.data() + countAt);
  if (directoryCount < 3 || optSize < directories - opt + 8 * directoryCount)
    return "the setup program has no place for a resource directory";
  if (directoryCount > 4 && LoadLe32(pe.data() + directories + 4 * 8 + 4) != 0)
    return "the setup program is signed: sign it after packing";
  const std::uint64_t sectionAlign = LoadLe32(pe.data() + opt + 32), fileAlign = LoadLe32(pe.data() + opt + 36);
  const std::uint64_t headersSize = LoadLe32(pe.data() + opt + 60);
  if (!PowerOfTwo(sectionAlign) || !PowerOfTwo(fileAlign)) return notPe;

  const std::uint64_t table = opt + optSize, tableEnd = table + 40 * sectionCount;
  if (tableEnd > pe.size()) return notPe;
  std::vector<Section> sections;
  std::uint64_t rawEnd = tableEnd, virtualEnd = 0, firstRaw = pe.size();
  for (std::uint64_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t s = table + 40 * i;
    const char* h = pe.data() + s;
    Section section{s, LoadLe32(h + 12), LoadLe32(h + 8), LoadLe32(h + 16), LoadLe32(h + 20)};
    if (section.rawSize != 0) {
      if (section.rawPointer > pe.size() || pe.size() - section.rawPointer < section.rawSize)
        return "a section of the setup program lies outside the file";
      rawEnd = std::max(rawEnd, section.rawPointer + section.rawSize);
      firstRaw = std::min(firstRaw, section.rawPointer);
    }
    virtualEnd = std::max(virtualEnd, section.VirtualEnd());
    sections.push_back(section);
  }

  const std::uint64_t resourceRva = LoadLe32(pe.data() + directories + 16);
  const std::uint64_t resourceSize = LoadLe32(pe.data() + directories + 20);
  Tree tree;
  if (resourceSize != 0) {
    const std::string error = TreeReader(pe, sections, resourceRva, resourceSize).Read(tree);
    if (!error.empty()) return "the setup program's resources are damaged: " + error;
  }
  if (identity.icon) ReplaceIcon(tree, *identity.icon);
  if (identity.version) tree[Id(kVersion)] = {{Id(1), {{Id(kEnglishUs), {VersionResource(*identity.version), 0}}}}};

  // In place when the resources fill the section that lies last, in the
  // file and in memory; otherwise a new section after all others.
  out = pe;
  const Section* last = sections.empty() ? nullptr : &sections.back();
  const bool inPlace = last && resourceSize != 0 && last->va == resourceRva && last->VirtualEnd() == virtualEnd &&
                       last->rawSize != 0 && last->rawPointer + last->rawSize == rawEnd;
  std::uint64_t header, va, rawPointer;
  if (inPlace) {
    header = last->header, va = last->va, rawPointer = last->rawPointer;
  } else {
    header = tableEnd;
    if (tableEnd + 40 > std::min(headersSize, firstRaw) ||
        pe.find_first_not_of('\0', tableEnd) < tableEnd + 40)
      return "the setup program's headers have no room for another section";
    va = AlignUp(virtualEnd, sectionAlign);
    rawPointer = AlignUp(rawEnd, fileAlign);
    out.replace(header, 8, std::string(".rsrc\0\0\0", 8));
    StoreLe(out.data() + header + 36, 0x40000040, 4);  // initialized data, readable
    StoreLe(out.data() + coff + 2, sectionCount + 1, 2);
  }
  const std::string resources = LayOut(tree, va);
  const std::uint64_t rawSize = AlignUp(resources.size(), fileAlign);
  if (va + resources.size() > 0xFFFFFFFFu || rawPointer + rawSize > 0xFFFFFFFFu) return "the setup program grows too big";
  std::string section = resources;
  section.resize(rawSize, '\0');
  const std::string trailing = pe.substr(rawEnd);
  out.resize(inPlace ? rawPointer : rawEnd);
  out.resize(rawPointer, '\0');
  out += section + trailing;

  StoreLe(out.data() + header + 8, resources.size(), 4);
  StoreLe(out.data() + header + 12, va, 4);
  StoreLe(out.data() + header + 16, rawSize, 4);
  StoreLe(out.data() + header + 20, rawPointer, 4);
  StoreLe(out.data() + directories + 16, va, 4);
  StoreLe(out.data() + directories + 20, resources.size(), 4);
  StoreLe(out.data() + opt + 56, AlignUp(va + resources.size(), sectionAlign), 4);
  StoreLe(out.data() + opt + 64, Checksum(out, opt + 64), 4);
  return {};
}

}  // namespace qv::pack
