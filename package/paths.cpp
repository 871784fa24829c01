// The file-name rules of a package (package.h): a path that passes can only
// name something inside the folder it is unpacked into.
#include <array>
#include <string>
#include <string_view>
#include <unordered_set>

#include "framework/portable/file_name_case.h"
#include "framework/portable/utf8.h"
#include "package/package.h"
#include "package/path_index.h"

namespace qv::pack {
namespace {

// Windows opens a device for these names whatever the extension ("nul.txt")
// and with blanks before it ("con .txt"); ¹²³ count as digits for COM/LPT.
bool IsDeviceName(std::string_view part) {
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  // Only ASCII letters fold to ASCII, so the key's ASCII start is the name's.
  const std::string key = FileNameKey(base);
  for (std::string_view name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"})
    if (key == name) return true;
  if (base.size() < 4) return false;
  const std::string_view stem = std::string_view(key).substr(0, 3), digit = base.substr(3);
  if (stem != "COM" && stem != "LPT") return false;
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

bool IsSafePart(std::string_view part) {
  if (part.empty() || part == "." || part == "..") return false;
  // Win32 drops trailing dots and blanks, so "a." would be "a" and "... " ".."
  if (part.back() == '.' || part.back() == ' ') return false;
  for (unsigned char c : part) {
    // ':' names a stream or a drive; the rest Windows refuses in names or reads as wildcards.
    if (c < 0x20 || c == 0x7F || c == ':' || c == '/' || c == '<' || c == '>' || c == '"' || c == '|' ||
        c == '?' || c == '*')
      return false;
  }
  return !IsDeviceName(part);
}

}  // namespace

bool IsSafePath(std::string_view path) {
  // Far beyond any real tree, and what the index's 16-bit length holds.
  if (path.empty() || path.size() > 32767) return false;
  // Malformed UTF-8 would turn into U+FFFD, so two names could become one.
  const std::string text(path);
  if (Utf16ToUtf8(Utf8ToUtf16(text)) != text) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    if (!IsSafePart(path.substr(start, end == std::string_view::npos ? end : end - start))) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

PathIndex IndexPaths(const std::vector<Entry>& entries) {
  PathIndex index;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (!index.byKey.emplace(FileNameKey(entries[i].path), i).second) {
      index.clash = PathIndex::Clash::kTwice;
      index.at = i;
      return index;
    }
  // Each folder a path lies in, met once: none may be a file. A key's start
  // up to a backslash is its folder's key.
  std::unordered_set<std::string> folders;
  for (const auto& [key, i] : index.byKey)
    for (std::size_t cut = key.rfind('\\'); cut != std::string::npos && cut > 0; cut = key.rfind('\\', cut - 1)) {
      const auto [folder, fresh] = folders.insert(key.substr(0, cut));
      if (!fresh) break;  // met before, with the folders above it
      const auto named = index.byKey.find(*folder);
      if (named != index.byKey.end() && !entries[named->second].IsFolder()) {
        index.clash = PathIndex::Clash::kInsideAFile;
        index.at = i;
        return index;
      }
    }
  return index;
}

}  // namespace qv::pack
