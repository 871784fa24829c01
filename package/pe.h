// The headers of a PE program, walked once for everyone who needs them:
// the package's start (the end of the last section), the resource writer
// and the branch filter's test for machine code. Offsets are counted from
// the start of the structure they belong to, as the format names them.
// Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "framework/portable/little_endian.h"
#include "package/bytes.h"

namespace qv::pack::pe {

// The DOS header: "MZ", and where the PE signature lies (e_lfanew).
inline constexpr std::size_t kDosHeaderSize = 64;
inline constexpr std::size_t kSignatureOffset = 0x3C;

// "PE\0\0", then the file header.
inline constexpr char kSignature[4] = {'P', 'E', '\0', '\0'};
inline constexpr std::size_t kSignatureSize = sizeof kSignature;
inline constexpr std::size_t kFileHeaderSize = 20;
inline constexpr std::size_t kMachine = 0, kSectionCount = 2, kOptionalHeaderSize = 16;
inline constexpr std::uint16_t kI386 = 0x14C, kAmd64 = 0x8664;

// The optional header, of a 32-bit program (PE32) or a 64-bit one (PE32+).
inline constexpr std::size_t kMagic = 0;
inline constexpr std::uint16_t kPe32 = 0x10B, kPe32Plus = 0x20B;
inline constexpr std::size_t kSectionAlignment = 32, kFileAlignment = 36, kImageSize = 56, kHeadersSize = 60,
                             kChecksum = 64;
// NumberOfRvaAndSizes; the data directories follow it.
inline constexpr std::size_t kDirectoryCount32 = 92, kDirectoryCount64 = 108;
// A data directory: where its data lies (an RVA; for the certificates a
// file offset) and how long it is.
inline constexpr std::size_t kDirectorySize = 8;
inline constexpr std::size_t kDirectoryAddress = 0, kDirectoryLength = 4;
inline constexpr std::size_t kResourceDirectory = 2, kCertificateDirectory = 4;

// The section table's entries.
inline constexpr std::size_t kSectionHeaderSize = 40;
inline constexpr std::size_t kSectionName = 0, kVirtualSize = 8, kVirtualAddress = 12, kRawSize = 16,
                             kRawPointer = 20, kSectionCharacteristics = 36;

// Where "PE\0\0" should lie, when the DOS header (kDosHeaderSize bytes at
// `dos`) starts "MZ".
inline std::optional<std::uint32_t> SignatureAt(const unsigned char* dos) {
  if (dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
  return LoadLe32(dos + kSignatureOffset);
}
// Whether the four bytes at p are "PE\0\0".
inline bool IsSignature(const unsigned char* p) { return std::memcmp(p, kSignature, kSignatureSize) == 0; }

// What the file header says, and where the headers after it lie.
struct Headers {
  std::uint64_t fileHeader = 0;  // just after the signature
  std::uint16_t machine = 0, sectionCount = 0, optionalSize = 0;
  std::uint64_t OptionalHeader() const { return fileHeader + kFileHeaderSize; }
  std::uint64_t SectionTable() const { return OptionalHeader() + optionalSize; }
  std::uint64_t SectionTableEnd() const { return SectionTable() + kSectionHeaderSize * sectionCount; }
};

// "MZ", the signature where e_lfanew says and the whole file header after
// it, all within the file; nothing when the file is no PE program.
std::optional<Headers> ReadHeaders(ByteSource& file);

struct Section {
  std::uint64_t header = 0;  // where its entry in the table lies
  std::uint64_t va = 0, virtualSize = 0, rawSize = 0, rawPointer = 0;
  std::uint64_t VirtualEnd() const { return va + (virtualSize > rawSize ? virtualSize : rawSize); }
};

// The section table, when the file holds it whole.
std::optional<std::vector<Section>> ReadSections(ByteSource& file, const Headers& headers);

struct OptionalHeader {
  std::uint64_t at = 0;  // in the file
  std::uint16_t magic = 0;
  std::uint32_t sectionAlignment = 0, fileAlignment = 0, headersSize = 0;
  std::uint32_t directoryCount = 0;  // as the header says
  std::uint64_t directories = 0;     // where the first data directory lies in the file
  // Whether the header's size takes in every directory it counts.
  bool directoriesFit = false;
  std::uint64_t Directory(std::size_t index) const { return directories + kDirectorySize * index; }
};

// The optional header of a PE32 or PE32+ program, whole within the file
// and holding its directory count; nothing otherwise.
std::optional<OptionalHeader> ReadOptionalHeader(ByteSource& file, const Headers& headers);

}  // namespace qv::pack::pe
