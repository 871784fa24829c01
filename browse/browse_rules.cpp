#include "browse/browse_rules.h"

#include <cstddef>
#include <vector>

namespace qv {

int SpecialFolderId(TRootID root, bool ntFamily) {
  using namespace shell;
  static const int kIds[] = {
      kCsidlDesktop, kCsidlInternet, kCsidlPrograms, kCsidlControls, kCsidlPrinters, kCsidlPersonal,
      kCsidlFavorites, kCsidlStartup, kCsidlRecent, kCsidlSendTo, kCsidlBitBucket, kCsidlStartMenu,
      kCsidlDesktopDirectory, kCsidlDrives, kCsidlNetwork, kCsidlNetHood, kCsidlFonts, kCsidlTemplates,
      kCsidlCommonStartMenu, kCsidlCommonPrograms, kCsidlCommonStartup, kCsidlCommonDesktopDirectory,
      kCsidlAppData, kCsidlPrintHood, kDesktopExpanded};
  // idCommonStartMenu .. idCommonDesktopDirectory outside the NT family
  static const int kOther[] = {kCsidlStartMenu, kCsidlPrograms, kCsidlStartup, kCsidlDesktopDirectory};
  const auto i = static_cast<std::size_t>(root);
  if (i >= sizeof kIds / sizeof kIds[0]) return 0;
  if (!ntFamily && root >= TRootID::idCommonStartMenu && root <= TRootID::idCommonDesktopDirectory)
    return kOther[i - static_cast<std::size_t>(TRootID::idCommonStartMenu)];
  return kIds[i];
}

TBrowseFlags ImpliedOptions(TBrowseFlags o) {
  if (o & Flag(bfIncludeURLs)) o |= Flag(bfIncludeFiles) | Flag(bfUseNewUI);
  if (o & Flag(bfShareable)) o |= Flag(bfUseNewUI);
  if (o & Flag(bfUseNewUI)) o |= Flag(bfEditBox) | Flag(bfNewDialogStyle);
  return o;
}

unsigned BrowseInfoFlags(TBrowseFlags options, bool wantStatus) {
  using namespace shell;
  // One entry per TBrowseFlag, in its order.
  static const unsigned kBits[] = {kBifReturnOnlyFsDirs, kBifDontGoBelowDomain, kBifReturnFsAncestors,
                                   kBifBrowseForComputer, kBifBrowseForPrinter, kBifBrowseIncludeFiles,
                                   kBifEditBox | kBifValidate, kBifBrowseIncludeUrls, kBifNewDialogStyle,
                                   kBifShareable, kBifUseNewUi};
  unsigned flags = wantStatus ? kBifStatusText : 0u;
  for (unsigned bit = 0; bit < 11; ++bit)
    if (options & (1u << bit)) flags |= kBits[bit];
  return flags;
}

std::string NormalisedSelection(const std::string& path) {
  if (path.size() == 2 && path[1] == ':') return path + "\\";
  if (path.size() > 3 && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

namespace {

// A UTF-8 continuation byte (10xxxxxx) never starts a character.
bool Continues(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Offsets where characters start: the first byte, and every byte that does
// not continue the character before it.
std::vector<std::size_t> CharStarts(std::string_view s) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (i == 0 || !Continues(s[i])) starts.push_back(i);
  return starts;
}

// \a\b\c\ -> \...\b\c\ -> \...\c\ -> \...\ ; an earlier "...\" is replaced.
// A backslash byte is always a character of its own in UTF-8.
std::string CutFirstFolder(std::string_view folder) {
  if (folder == "\\") return {};
  bool root = !folder.empty() && folder.front() == '\\';
  if (root) folder.remove_prefix(1);
  if (folder.substr(0, 4) == "...\\") folder.remove_prefix(4);
  std::string out;
  if (const std::size_t slash = folder.find('\\'); slash != std::string_view::npos)
    out = "...\\" + std::string(folder.substr(slash + 1));
  return root ? "\\" + out : out;
}

std::string FitPath(std::string_view text, int width,
                    const std::function<int(std::string_view)>& measure) {
  std::string_view drive;
  std::string_view rest = text;
  // ':' continues no character, so what stands before it is a whole one.
  if (text.size() >= 2 && text[1] == ':') {
    drive = text.substr(0, 2);
    rest = text.substr(2);
  }
  std::string folder;
  std::string_view name = rest;
  if (const std::size_t slash = rest.rfind('\\'); slash != std::string_view::npos) {
    folder = std::string(rest.substr(0, slash + 1));
    name = rest.substr(slash + 1);
  }
  std::string driveText(drive);
  std::string result(text);
  while (measure(result) > width && (!driveText.empty() || !folder.empty())) {
    if (folder == "\\...\\") {
      driveText.clear();
      folder = "...\\";
    } else if (!folder.empty()) {
      folder = CutFirstFolder(folder);
    } else {
      driveText.clear();
    }
    result = driveText + folder + std::string(name);
  }
  return result;
}

std::string FitEnd(std::string_view text, int width,
                   const std::function<int(std::string_view)>& measure) {
  if (measure(text) <= width) return std::string(text);
  auto starts = CharStarts(text);
  // Whole characters come off, so a multi-byte one never loses a part.
  for (std::size_t n = starts.size(); n-- > 0;) {
    std::string candidate = std::string(text.substr(0, starts[n])) + "...";
    if (n == 0 || measure(candidate) <= width) return candidate;
  }
  return "...";
}

}  // namespace

std::string FitStatusText(std::string_view text, int width,
                          const std::function<int(std::string_view)>& measure,
                          bool namesFolder) {
  if (text.empty()) return {};
  return namesFolder ? FitPath(text, width, measure) : FitEnd(text, width, measure);
}

}  // namespace qv
