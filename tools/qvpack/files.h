// What qvpack needs of the machine's files, one way on Linux (files_posix)
// and one on Windows (files_win32), and what is the same on both over them
// (files.cpp). Paths are UTF-8 in the machine's own form; package paths
// (backslashes) are turned into them by DiskPath.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/bytes.h"
#include "tools/qvpack/folder_tree.h"
#include "tools/qvpack/script_check.h"

namespace qv::qvpack {

// Everything inside `folder`, each folder before its contents and every
// folder's names in NameBefore order. The file `skip` (the package being
// written, when it lies inside) is left out. What cannot be read or
// packed (a link to a folder, a device) goes to `problems`.
std::vector<Item> ScanFolder(const std::string& folder, const std::string& skip, std::vector<Problem>& problems);

bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);
// A folder that exists and holds anything.
bool FolderHasEntries(const std::string& path);
// Makes a folder and its missing parents.
bool MakeFolders(const std::string& path);
std::optional<std::string> ReadWholeFile(const std::string& path);

// A package path ("app\\one.txt") under a folder of this machine.
std::string DiskPath(const std::string& folder, const std::string& packagePath);

// The bytes of a file, read at any offset; null when it cannot be opened.
std::unique_ptr<pack::ByteSource> OpenFileSource(const std::string& path);

// A file being written. Unless committed it is removed when destroyed, so
// a failed run leaves no half file behind.
class OutputFile : public pack::ByteSink {
 public:
  // Told the size of each write that went through (the progress bar's count).
  std::function<void(std::size_t)> written;
  // Closes the file; written under a temporary name, moves it into place.
  virtual bool Commit() = 0;
};
// With `viaTemporary` the bytes go to a name beside `path` first, and an
// existing file at `path` is replaced only by a complete one.
std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path, bool viaTemporary);

// Gives a written file or folder its attributes and modification time;
// an error text, empty when done. On Linux the read-only bit becomes the
// permission bits and the others Wine's user.DOSATTRIB, when the file
// system takes extended attributes.
std::string SetFileDetails(const std::string& path, std::uint32_t attributes, std::uint64_t modified);

// The system's text for the last error.
std::string LastErrorText();

// Where qvpack itself lies.
std::string ProgramFolder();

// ANSI script bytes as the Windows program would read them: the system's
// ANSI code page on Windows; on Linux, which has none, GBK (code page 936).
std::string DecodeAnsi(unsigned codePage, std::string_view bytes);

enum class Stream { Out, Err };
bool IsTerminal(Stream stream);
// UTF-8 text to stdout or stderr; a Windows console gets it as UTF-16.
void Print(Stream stream, std::string_view text);

}  // namespace qv::qvpack
