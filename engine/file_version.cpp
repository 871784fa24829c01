#include "engine/file_version.h"

#include <vector>

namespace qv {

namespace {

constexpr std::uint32_t kVersionType = 16;  // RT_VERSION
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::uint32_t kMaxVersionBytes = 64 * 1024;

class Reader {
 public:
  explicit Reader(pack::ByteSource& file) : file_(file) {}
  bool U16(std::uint64_t at, std::uint32_t& v) { return Bytes(at, 2, v); }
  bool U32(std::uint64_t at, std::uint32_t& v) { return Bytes(at, 4, v); }
  bool Read(std::uint64_t at, void* to, std::size_t n) {
    return at <= file_.Size() && n <= file_.Size() - at && file_.ReadAt(at, to, n);
  }

 private:
  bool Bytes(std::uint64_t at, std::size_t n, std::uint32_t& v) {
    unsigned char b[4] = {};
    if (!Read(at, b, n)) return false;
    v = 0;
    for (std::size_t i = n; i-- > 0;) v = (v << 8) | b[i];
    return true;
  }
  pack::ByteSource& file_;
};

struct Section {
  std::uint32_t address, size, offset;
};

// A directory entry of the resource tree: the `index`th one for `id`, or the
// first of any id when `id` is none. Gives its OffsetToData.
std::optional<std::uint32_t> Entry(Reader& r, std::uint64_t directory, std::optional<std::uint32_t> id) {
  std::uint32_t named = 0, ids = 0;
  if (!r.U16(directory + 12, named) || !r.U16(directory + 14, ids)) return std::nullopt;
  for (std::uint32_t i = 0; i < named + ids; ++i) {
    std::uint32_t name = 0, data = 0;
    if (!r.U32(directory + 16 + 8ull * i, name) || !r.U32(directory + 20 + 8ull * i, data)) return std::nullopt;
    if (!id || (!(name & 0x80000000u) && name == *id)) return data;
  }
  return std::nullopt;
}

}  // namespace

std::optional<FileVersion> ReadFileVersion(pack::ByteSource& file) {
  Reader r(file);
  std::uint32_t mz = 0, pe = 0, header = 0;
  if (!r.U16(0, mz) || mz != 0x5A4D || !r.U32(0x3C, pe) || !r.U32(pe, header) || header != 0x4550) return std::nullopt;
  std::uint32_t sections = 0, optionalSize = 0, magic = 0;
  const std::uint64_t coff = pe + 4ull;
  if (!r.U16(coff + 2, sections) || !r.U16(coff + 16, optionalSize) || !r.U16(coff + 20, magic)) return std::nullopt;
  const std::uint64_t optional = coff + 20;
  // PE32 or PE32+: where the count of data directories and the directories are.
  const std::uint64_t count = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
  std::uint32_t directories = 0, resourceAddress = 0;
  if (count == 0 || !r.U32(optional + count, directories) || directories < 3 ||
      !r.U32(optional + count + 4 + 2 * 8, resourceAddress) || resourceAddress == 0)
    return std::nullopt;
  std::vector<Section> table;
  for (std::uint32_t i = 0; i < sections; ++i) {
    const std::uint64_t s = optional + optionalSize + 40ull * i;
    Section x{};
    std::uint32_t virtualSize = 0, rawSize = 0;
    if (!r.U32(s + 8, virtualSize) || !r.U32(s + 12, x.address) || !r.U32(s + 16, rawSize) || !r.U32(s + 20, x.offset))
      return std::nullopt;
    x.size = rawSize < virtualSize || virtualSize == 0 ? rawSize : virtualSize;
    table.push_back(x);
  }
  const auto offsetOf = [&](std::uint32_t address) -> std::optional<std::uint64_t> {
    for (const Section& s : table)
      if (address >= s.address && address - s.address < s.size) return std::uint64_t{s.offset} + (address - s.address);
    return std::nullopt;
  };
  const std::optional<std::uint64_t> root = offsetOf(resourceAddress);
  if (!root) return std::nullopt;
  // Type, then the first name, then the first language: three levels of
  // directories, then the data entry.
  std::optional<std::uint32_t> at = Entry(r, *root, kVersionType);
  for (int level = 0; level < 2 && at; ++level)
    at = (*at & 0x80000000u) ? Entry(r, *root + (*at & 0x7FFFFFFFu), std::nullopt) : std::nullopt;
  if (!at || (*at & 0x80000000u)) return std::nullopt;
  std::uint32_t dataAddress = 0, dataSize = 0;
  if (!r.U32(*root + *at, dataAddress) || !r.U32(*root + *at + 4, dataSize)) return std::nullopt;
  const std::optional<std::uint64_t> data = offsetOf(dataAddress);
  if (!data || dataSize > kMaxVersionBytes) return std::nullopt;
  std::vector<unsigned char> info(dataSize);
  if (dataSize < 92 || !r.Read(*data, info.data(), info.size())) return std::nullopt;
  const auto u16 = [&](std::size_t i) { return static_cast<std::uint32_t>(info[i] | info[i + 1] << 8); };
  const auto u32 = [&](std::size_t i) { return u16(i) | u16(i + 2) << 16; };
  // VS_VERSIONINFO: length, value length, type, "VS_VERSION_INFO" in
  // UTF-16 with its zero, padded to 32 bits, then VS_FIXEDFILEINFO.
  static const char kKey[] = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < sizeof kKey; ++i)
    if (u16(6 + 2 * i) != static_cast<unsigned char>(kKey[i])) return std::nullopt;
  const std::size_t fixed = (6 + 2 * sizeof kKey + 3) & ~std::size_t{3};
  if (u16(2) < 52 || fixed + 52 > info.size() || u32(fixed) != kFixedSignature) return std::nullopt;
  const std::uint32_t ms = u32(fixed + 8), ls = u32(fixed + 12);
  return FileVersion{static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms),
                     static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls)};
}

std::string VersionText(const FileVersion& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

}  // namespace qv
