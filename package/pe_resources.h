// Gives a PE program (the setup program qvpack seals) another icon and
// version resource. Portable: qvpack rewrites the program on any machine.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::pack {

// The texts of a version resource, UTF-8; empty ones are left out.
struct VersionTexts {
  std::string productName, companyName, fileDescription, productVersion, fileVersion, legalCopyright,
      originalFilename;
};

struct Identity {
  std::optional<std::string> icon;  // the bytes of a .ico file
  std::optional<VersionTexts> version;
};

// "a.b.c.d" (missing parts 0) as four numbers up to 65535; nothing for other text.
std::optional<std::array<std::uint16_t, 4>> ParseVersionNumbers(std::string_view text);

// Why these bytes are no .ico file with at least one image; empty when they are.
std::string IcoProblem(std::string_view ico);

// The VS_VERSIONINFO resource: numbers from fileVersion and productVersion,
// the texts in U.S. English, Unicode. Both versions must parse.
std::string VersionResource(const VersionTexts& texts);

// `pe` with its main icon group (and its icons) and its version resource
// replaced by `identity`'s, the rest of its resources kept; other sections'
// bytes stay as they were. The resources go into a new last section (the
// old one rewritten in place when it already is last). Gives an error text,
// empty on success.
std::string ReplaceResources(const std::string& pe, const Identity& identity, std::string& out);

}  // namespace qv::pack
