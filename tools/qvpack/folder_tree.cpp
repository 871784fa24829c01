#include "tools/qvpack/folder_tree.h"

#include <algorithm>
#include <map>

#include "framework/portable/file_name_case.h"

namespace qv::qvpack {

namespace {

std::size_t LastBackslash(std::string_view path) {
  const std::size_t at = path.rfind('\\');
  return at == std::string_view::npos ? 0 : at + 1;
}

}  // namespace

bool NameBefore(std::string_view a, std::string_view b) {
  const std::string fa = FileNameKey(a), fb = FileNameKey(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

bool SameName(std::string_view a, std::string_view b) { return SameFileName(a, b); }

FolderTree::FolderTree(const std::vector<Item>& items)
    : items_(items), parents_(items.size(), kRoot), children_(items.size() + 1) {
  std::map<std::string, std::size_t> folders;
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].IsFolder()) folders.emplace(FileNameKey(items[i].path), i);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t cut = LastBackslash(items[i].path);
    if (cut > 0) {
      const auto parent = folders.find(FileNameKey(std::string_view(items[i].path).substr(0, cut - 1)));
      if (parent != folders.end()) parents_[i] = parent->second;
    }
    children_[parents_[i] == kRoot ? items.size() : parents_[i]].push_back(i);
  }
  for (auto& list : children_)
    std::stable_sort(list.begin(), list.end(),
                     [this](std::size_t a, std::size_t b) { return NameBefore(Name(a), Name(b)); });
}

const std::vector<std::size_t>& FolderTree::Children(std::size_t folder) const {
  return children_[folder == kRoot ? items_.size() : folder];
}

std::size_t FolderTree::Child(std::size_t folder, std::string_view name) const {
  for (std::size_t i : Children(folder))
    if (SameName(Name(i), name)) return i;
  return kRoot;
}

std::string_view FolderTree::Name(std::size_t item) const {
  const std::string_view path = items_[item].path;
  return path.substr(LastBackslash(path));
}

std::vector<std::size_t> FolderTree::CaseClashes() const {
  std::vector<std::size_t> clashes;
  for (const auto& list : children_)
    for (std::size_t k = 1; k < list.size(); ++k)
      if (SameName(Name(list[k - 1]), Name(list[k]))) clashes.push_back(list[k]);
  return clashes;
}

}  // namespace qv::qvpack
