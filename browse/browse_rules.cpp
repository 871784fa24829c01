#include "browse_rules.h"

namespace qv {

int SpecialFolderId(TRootID root, bool ntFamily) {
  static const int kIds[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x10,
                             0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0xFEFE};
  static const int kOther[] = {0x0B, 0x02, 0x07, 0x10};  // idCommonStartMenu .. idCommonDesktopDirectory
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
  static const unsigned kBits[] = {0x0001, 0x0002, 0x0008, 0x1000, 0x2000, 0x4000,
                                   0x0010 | 0x0020, 0x0080, 0x0040, 0x8000, 0x0050};
  unsigned flags = wantStatus ? 0x0004u : 0u;
  for (unsigned bit = 0; bit < 11; ++bit)
    if (options & (1u << bit)) flags |= kBits[bit];
  return flags;
}

std::string NormalisedSelection(const std::string& path) {
  if (path.size() == 2 && path[1] == ':') return path + "\\";
  if (path.size() > 3 && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

}  // namespace qv
