// Real temporary folders for the Windows tests, removed with their contents.
// Paths are UTF-8 and may be of any length.
#pragma once

#include <windows.h>

#include <string>

namespace qv::test {

class TempDir {
 public:
  explicit TempDir(const std::string& tag);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder with a trailing backslash.
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + rel; }

 private:
  std::string path_;
};

void RemoveTree(const std::string& folder);
void WriteTextFile(const std::string& path, const std::string& content);
std::string ReadTextFile(const std::string& path);  // empty when missing
DWORD Attributes(const std::string& path);  // INVALID_FILE_ATTRIBUTES when missing
bool IsFile(const std::string& path);
bool IsFolder(const std::string& path);
void MakeFolders(const std::string& path);
std::string FolderOf(const std::string& path);  // up to the last backslash

}  // namespace qv::test
