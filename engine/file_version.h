// The file version a program or library carries in its version resource,
// read from its bytes alone: a file about to be installed (in a package or
// a folder) and one installed are read the same way.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "package/bytes.h"

namespace qv {

// The four numbers of VS_FIXEDFILEINFO's file version, most significant first.
using FileVersion = std::array<std::uint16_t, 4>;

// None when the bytes are no PE file with a version resource; anything
// malformed is read as none, never past the file's end.
std::optional<FileVersion> ReadFileVersion(pack::ByteSource& file);

std::string VersionText(const FileVersion& v);

}  // namespace qv
