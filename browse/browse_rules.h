// The folder browser's rules that need no window: root folder ids, option
// implications and the browse flags they make.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace qv
