// The package folder as qvpack sees it: its files and folders, and the
// lookups the setup program's file search makes in them. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "package/package.h"

namespace qv::qvpack {

// One file or folder of the package folder.
struct Item {
  std::string path;  // relative, backslashes: "app\\data\\one.txt"
  std::uint32_t attributes = 0;  // Windows bits, those a package keeps
  std::uint64_t modified = 0;    // FILETIME: 100 ns ticks since 1601
  std::uint64_t size = 0;
  std::string diskPath;  // where it is on this machine
  bool IsFolder() const { return (attributes & kAttrDirectory) != 0; }
};

// The order of a folder's listing: case-blind (as SameName) first, then
// bytes, so that it never depends on the order the file system hands names
// out.
bool NameBefore(std::string_view a, std::string_view b);

// Equality as the program's file system compares names (file_name_case.h).
bool SameName(std::string_view a, std::string_view b);

class FolderTree {
 public:
  // The package folder itself.
  static constexpr std::size_t kRoot = static_cast<std::size_t>(-1);

  explicit FolderTree(const std::vector<Item>& items);

  // Items of a folder in listing order.
  const std::vector<std::size_t>& Children(std::size_t folder) const;
  // The item named `name` (case-blind) in a folder, or kRoot when none.
  std::size_t Child(std::size_t folder, std::string_view name) const;
  std::size_t Parent(std::size_t item) const { return parents_[item]; }
  // The part of an item's path after its last backslash.
  std::string_view Name(std::size_t item) const;
  // Items whose name differs from an earlier one's in the same folder only
  // in letter case: on Windows they would be one file.
  std::vector<std::size_t> CaseClashes() const;

 private:
  const std::vector<Item>& items_;
  std::vector<std::size_t> parents_;
  std::vector<std::vector<std::size_t>> children_;  // [items.size()] is the root
};

}  // namespace qv::qvpack
