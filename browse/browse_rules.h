// The folder browser's rules that need no window: root folder ids, option
// implications, the browse flags they make and how the status text fits
// its line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qv {

enum class TRootID : std::uint8_t {
  idDesktop, idInternet, idPrograms, idControlPanel, idPrinters, idPersonal, idFavorites, idStartup,
  idRecent, idSendTo, idRecycleBin, idStartMenu, idDesktopDirectory, idDrives, idNetwork, idNetHood,
  idFonts, idTemplates, idCommonStartMenu, idCommonPrograms, idCommonStartup, idCommonDesktopDirectory,
  idAppData, idPrintHood, idDesktopExpanded
};

enum TBrowseFlag : unsigned {
  bfDirectoriesOnly, bfDomainOnly, bfAncestors, bfComputers, bfPrinters, bfIncludeFiles, bfEditBox,
  bfIncludeURLs, bfNewDialogStyle, bfShareable, bfUseNewUI
};
using TBrowseFlags = std::uint16_t;  // bit n = flag n
constexpr TBrowseFlags Flag(TBrowseFlag f) { return static_cast<TBrowseFlags>(1u << f); }

// The shell's numbers these rules answer with (CSIDL_ and BIF_ values,
// checked against the shell's headers where the browser uses them).
namespace shell {
enum : int {
  kCsidlDesktop = 0x00, kCsidlInternet = 0x01, kCsidlPrograms = 0x02, kCsidlControls = 0x03,
  kCsidlPrinters = 0x04, kCsidlPersonal = 0x05, kCsidlFavorites = 0x06, kCsidlStartup = 0x07,
  kCsidlRecent = 0x08, kCsidlSendTo = 0x09, kCsidlBitBucket = 0x0A, kCsidlStartMenu = 0x0B,
  kCsidlDesktopDirectory = 0x10, kCsidlDrives = 0x11, kCsidlNetwork = 0x12, kCsidlNetHood = 0x13,
  kCsidlFonts = 0x14, kCsidlTemplates = 0x15, kCsidlCommonStartMenu = 0x16, kCsidlCommonPrograms = 0x17,
  kCsidlCommonStartup = 0x18, kCsidlCommonDesktopDirectory = 0x19, kCsidlAppData = 0x1A, kCsidlPrintHood = 0x1B,
  kDesktopExpanded = 0xFEFE,  // no shell folder: the desktop, shown opened
};
enum : unsigned {
  kBifReturnOnlyFsDirs = 0x0001, kBifDontGoBelowDomain = 0x0002, kBifStatusText = 0x0004,
  kBifReturnFsAncestors = 0x0008, kBifEditBox = 0x0010, kBifValidate = 0x0020, kBifNewDialogStyle = 0x0040,
  kBifBrowseIncludeUrls = 0x0080, kBifBrowseForComputer = 0x1000, kBifBrowseForPrinter = 0x2000,
  kBifBrowseIncludeFiles = 0x4000, kBifShareable = 0x8000,
  kBifUseNewUi = kBifEditBox | kBifNewDialogStyle,
};
}  // namespace shell

// The shell's special-folder id for a root; the all-users folders exist on
// the NT family only and fall back to the user's own elsewhere.
int SpecialFolderId(TRootID root, bool ntFamily);

// Adds what a choice of options implies (URLs need files and the new UI,
// shareable needs the new UI, the new UI brings the edit box and new style).
TBrowseFlags ImpliedOptions(TBrowseFlags options);

// The shell's BIF_ flags for a set of options; a status line is asked for
// when there is status text or the selection is to be shown in it.
unsigned BrowseInfoFlags(TBrowseFlags options, bool wantStatus);

// "C:" gains a backslash, "C:\" stays, longer paths lose one trailing
// backslash: the form the browse window takes a preselection in.
std::string NormalisedSelection(const std::string& path);

// The status text as it fits `width` pixels (too wide: measure(text) > width).
// namesFolder: the text names an existing folder, so it is shortened as a
// path ("\...\"); otherwise it is cut from the end with "...". The text
// is UTF-8 and its characters are never split.
std::string FitStatusText(std::string_view text, int width,
                          const std::function<int(std::string_view)>& measure,
                          bool namesFolder);

}  // namespace qv
