// The forms a path takes on its way to the system's W functions, in one
// place: the \\?\ form that lifts MAX_PATH, the full, short and long
// forms, and the program's own path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv {

// The path as the system resolves it: absolute, "." and ".." gone, forward
// slashes turned; as it is when the system cannot say.
std::wstring FullPath(const std::wstring& path);

// The path in the \\?\ form (absolute, for a drive or a share), or as it is
// when it cannot have that form.
std::wstring LongForm(const std::wstring& path);

// A file system path for the W functions. A path too long for the classic
// limit is made absolute and given the \\?\ form, which lifts the limit; a
// short one is passed as it is, so relative paths keep their meaning. None
// for a path beyond kMaxPathUnits, with the last error at
// ERROR_FILENAME_EXCED_RANGE.
std::optional<std::wstring> WidePath(std::string_view utf8);

inline bool HasLongPrefix(std::wstring_view path) { return path.substr(0, 4) == L"\\\\?\\"; }

// A path without the \\?\ prefix (a share's \\?\UNC\ back to \\), where it
// has one.
std::wstring WithoutPrefix(const std::wstring& path);

// The short (8.3) form of an existing path, where its volume keeps short
// names; else the path as it is.
std::wstring ShortForm(const std::wstring& path);

// The long form of a path that may hold short (8.3) names; as it is when
// the system cannot say.
std::wstring LongNames(const std::wstring& path);

// The running program's own file, as the system started it.
std::wstring ModulePath();
// The same by its long names: started by a short name (C:\PROGRA~2\...),
// it is still the program its registration names by the long one.
std::wstring ProgramPath();
// The same in UTF-8.
std::string ProgramFileName();

// The system's message for an error code, without its line end; empty
// when it has none.
std::string SystemMessage(unsigned long code);

}  // namespace qv
