#include "package/pe.h"

#include <algorithm>

#include "framework/portable/little_endian.h"
#include "package/package.h"

namespace qv::pack {
namespace pe {

std::optional<Headers> ReadHeaders(ByteSource& file) {
  const std::uint64_t size = file.Size();
  unsigned char dos[kDosHeaderSize];
  if (size < sizeof dos || !file.ReadAt(0, dos, sizeof dos)) return std::nullopt;
  const std::optional<std::uint32_t> at = SignatureAt(dos);
  unsigned char head[kSignatureSize + kFileHeaderSize];
  if (!at || *at > size || size - *at < sizeof head || !file.ReadAt(*at, head, sizeof head) || !IsSignature(head))
    return std::nullopt;
  const unsigned char* fields = head + kSignatureSize;
  Headers h;
  h.fileHeader = *at + kSignatureSize;
  h.machine = LoadLe16(fields + kMachine);
  h.sectionCount = LoadLe16(fields + kSectionCount);
  h.optionalSize = LoadLe16(fields + kOptionalHeaderSize);
  return h;
}

std::optional<std::vector<Section>> ReadSections(ByteSource& file, const Headers& headers) {
  // All small numbers: no overflow.
  if (headers.SectionTableEnd() > file.Size()) return std::nullopt;
  std::vector<unsigned char> table(kSectionHeaderSize * headers.sectionCount);
  if (!table.empty() && !file.ReadAt(headers.SectionTable(), table.data(), table.size())) return std::nullopt;
  std::vector<Section> sections;
  for (std::size_t i = 0; i < headers.sectionCount; ++i) {
    const unsigned char* s = table.data() + kSectionHeaderSize * i;
    sections.push_back({headers.SectionTable() + kSectionHeaderSize * i, LoadLe32(s + kVirtualAddress),
                        LoadLe32(s + kVirtualSize), LoadLe32(s + kRawSize), LoadLe32(s + kRawPointer)});
  }
  return sections;
}

std::optional<OptionalHeader> ReadOptionalHeader(ByteSource& file, const Headers& headers) {
  OptionalHeader o;
  o.at = headers.OptionalHeader();
  const std::uint64_t size = file.Size();
  unsigned char magic[2];
  if (size < o.at + sizeof magic || !file.ReadAt(o.at, magic, sizeof magic)) return std::nullopt;
  o.magic = LoadLe16(magic);
  if (o.magic != kPe32 && o.magic != kPe32Plus) return std::nullopt;
  const std::size_t countAt = o.magic == kPe32 ? kDirectoryCount32 : kDirectoryCount64;
  const std::size_t directories = countAt + 4;
  // The count and the first directory's address at least.
  if (headers.optionalSize < directories + kDirectoryLength || size < o.at + headers.optionalSize) return std::nullopt;
  std::vector<unsigned char> bytes(headers.optionalSize);
  if (!file.ReadAt(o.at, bytes.data(), bytes.size())) return std::nullopt;
  o.sectionAlignment = LoadLe32(&bytes[kSectionAlignment]);
  o.fileAlignment = LoadLe32(&bytes[kFileAlignment]);
  o.headersSize = LoadLe32(&bytes[kHeadersSize]);
  o.directoryCount = LoadLe32(&bytes[countAt]);
  o.directories = o.at + directories;
  o.directoriesFit = headers.optionalSize >= directories + std::uint64_t{kDirectorySize} * o.directoryCount;
  return o;
}

}  // namespace pe

// Where the setup program's own bytes end: the end of its last section.
// Everything after that is overlay (our package, then perhaps a signature).
std::optional<std::uint64_t> OverlayStart(ByteSource& file) {
  const std::optional<pe::Headers> headers = pe::ReadHeaders(file);
  const std::optional<std::vector<pe::Section>> sections = headers ? pe::ReadSections(file, *headers) : std::nullopt;
  if (!sections) return std::nullopt;
  std::uint64_t end = headers->SectionTableEnd();
  for (const pe::Section& s : *sections)
    if (s.rawSize != 0) end = std::max(end, s.rawPointer + s.rawSize);
  return end;
}

}  // namespace qv::pack
