#include "engine/path_list.h"

#include <vector>

#include "framework/portable/file_name_case.h"

namespace qv {
namespace {

struct Part {
  std::size_t at, size;
};

std::vector<Part> Parts(const std::string& value) {
  std::vector<Part> parts;
  for (std::size_t at = 0;;) {
    const std::size_t end = value.find(';', at);
    parts.push_back({at, (end == std::string::npos ? value.size() : end) - at});
    if (end == std::string::npos) return parts;
    at = end + 1;
  }
}

std::string Key(std::string folder) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == ' ')) folder.pop_back();
  return FileNameKey(folder);
}

PathEdit Edit(Platform& platform, std::uint32_t root,
              const std::function<std::optional<std::string>(const std::string&)>& change) {
  const char* key = EnvironmentKey(root);
  const RegistryText now = platform.registry.ReadRegistryText(root, key, "Path");
  if (now.status == RegistryText::Status::NotText) return PathEdit::Failed;
  const bool there = now.status == RegistryText::Status::Text;
  const std::optional<std::string> next = change(there ? now.text : std::string());
  if (!next) return PathEdit::Unchanged;
  const RegType type = !there || now.expandable ? RegType::ExpandText : RegType::Text;
  return platform.registry.WriteRegistryValue(root, key, "Path", type, TextData(*next)) == RegWrite::Written
             ? PathEdit::Changed
             : PathEdit::Failed;
}

}  // namespace

const char* EnvironmentKey(std::uint32_t root) {
  return root == kHKLM ? kMachineEnvironmentKey : kUserEnvironmentKey;
}

bool SameFolderEntry(const std::string& a, const std::string& b,
                     const std::function<std::string(const std::string&)>& expand) {
  const std::string ka = Key(a), kb = Key(b);
  if (ka.empty() || kb.empty()) return false;
  if (ka == kb) return true;
  return Key(expand(a)) == Key(expand(b));
}

std::optional<std::string> WithEntry(const std::string& value, const std::string& entry,
                                     const std::function<std::string(const std::string&)>& expand) {
  for (const Part& p : Parts(value))
    if (SameFolderEntry(value.substr(p.at, p.size), entry, expand)) return std::nullopt;
  const bool separated = value.empty() || value.back() == ';';
  return value + (separated ? "" : ";") + entry;
}

std::optional<std::string> WithoutEntry(const std::string& value, const std::string& entry) {
  const std::string wanted = Key(entry);
  for (const Part& p : Parts(value)) {
    if (Key(value.substr(p.at, p.size)) != wanted || wanted.empty()) continue;
    // The entry and one separator beside it: the one after, or for the
    // last entry the one before.
    if (p.at + p.size < value.size()) return value.substr(0, p.at) + value.substr(p.at + p.size + 1);
    return value.substr(0, p.at == 0 ? 0 : p.at - 1);
  }
  return std::nullopt;
}

PathEdit AddToPath(Platform& platform, std::uint32_t root, const std::string& entry) {
  return Edit(platform, root, [&](const std::string& value) {
    return WithEntry(value, entry, [&platform](const std::string& t) { return platform.system.ExpandEnvironment(t); });
  });
}

PathEdit RemoveFromPath(Platform& platform, std::uint32_t root, const std::string& entry) {
  bool emptied = false;
  const PathEdit edit = Edit(platform, root, [&](const std::string& value) {
    std::optional<std::string> next = WithoutEntry(value, entry);
    emptied = next && next->empty();
    return next;
  });
  // Ours was all it held: it goes, as it came.
  if (edit == PathEdit::Changed && emptied) platform.registry.DeleteRegistryValue(root, EnvironmentKey(root), "Path");
  return edit;
}

}  // namespace qv
