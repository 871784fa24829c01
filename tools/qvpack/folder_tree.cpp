#include "folder_tree.h"

#include <algorithm>
#include <map>

namespace qv::qvpack {

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Folded(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Fold(c);
  return r;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length in bytes of the UTF-8 character at `i`.
std::size_t CharacterLength(std::string_view s, std::size_t i) {
  std::size_t n = 1;
  while (i + n < s.size() && IsContinuation(s[i + n])) ++n;
  return n;
}

bool Match(std::string_view name, std::string_view pattern) {
  // Greedy with one backtrack point: the last '*' seen.
  std::size_t n = 0, p = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      n += CharacterLength(name, n);
      ++p;
    } else if (p < pattern.size() && Fold(pattern[p]) == Fold(name[n])) {
      ++n;
      ++p;
    } else if (starP != std::string_view::npos) {
      starN += CharacterLength(name, starN);
      n = starN;
      p = starP;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::size_t LastBackslash(std::string_view path) {
  const std::size_t at = path.rfind('\\');
  return at == std::string_view::npos ? 0 : at + 1;
}

}  // namespace

bool NameBefore(std::string_view a, std::string_view b) {
  const std::string fa = Folded(a), fb = Folded(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Folded(a) == Folded(b);
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (Match(name, pattern)) return true;
  if (name.find('.') != std::string_view::npos) return false;
  // "readme.*" and "readme." take "readme" too.
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*")
    return Match(name, pattern.substr(0, pattern.size() - 2));
  if (!pattern.empty() && pattern.back() == '.') return Match(name, pattern.substr(0, pattern.size() - 1));
  return false;
}

FolderTree::FolderTree(const std::vector<Item>& items)
    : items_(items), parents_(items.size(), kRoot), children_(items.size() + 1) {
  std::map<std::string, std::size_t> folders;
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].IsFolder()) folders.emplace(Folded(items[i].path), i);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t cut = LastBackslash(items[i].path);
    if (cut > 0) {
      const auto parent = folders.find(Folded(std::string_view(items[i].path).substr(0, cut - 1)));
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
