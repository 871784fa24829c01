// Names in one folder and which of them each search pattern finds, as Wine's
// FindFirstFileW finds them in a real folder (a subfolder, so "." and ".."
// are listed too). The host test holds the matcher to the same table.
// Left out: a '?' after a '*' ("*?", "*a?"), which Wine's search never
// matches although Windows' does, and patterns that a generated short
// name ("ARCH~5FB.GZ") could match where the long name does not.
#pragma once

#include <string>
#include <vector>

namespace qv::test {

inline const std::vector<std::string> kWildcardNames = {
    ".", "..", "readme.txt", "README", "a.b.c", "archive.tar.gz", "noext", "x",
    "中.txt", "中文.txt", "文件名", "𠀀.txt", "𠀀𠀁", "été.txt", "Ωmega.Doc",
};

struct WildcardCase {
  const char* pattern;
  std::vector<std::string> found;  // in kWildcardNames' order
};

inline const WildcardCase kWildcardCases[] = {
    {"*", kWildcardNames},
    {"*.*", kWildcardNames},
    // Trailing dots and spaces go before the search: "*." is "*".
    {"*.", kWildcardNames},
    {"*.*.", kWildcardNames},
    {"readme.", {"README"}},
    {"readme..", {"README"}},
    {"README.TXT.", {"readme.txt"}},
    {"readme.txt ", {"readme.txt"}},
    {"*t.", {"readme.txt", "noext", "中.txt", "中文.txt", "𠀀.txt", "été.txt"}},
    // After the name's end only dots and stars are left.
    {"README.*", {"readme.txt", "README"}},
    {"noext.*", {"noext"}},
    {"noext..*", {"noext"}},
    {".*", {".", ".."}},
    // Several dots: '*' and '.' take them as any other character.
    {"a.b", {}},
    {"a.b.*", {"a.b.c"}},
    {"a.?.c", {"a.b.c"}},
    {"*.b", {}},
    {"*.tar.gz", {"archive.tar.gz"}},
    {"*.tar", {}},
    {"*.?", {"..", "a.b.c"}},
    {"*.TXT", {"readme.txt", "中.txt", "中文.txt", "𠀀.txt", "été.txt"}},
    // '?' is exactly one UTF-16 unit: one for a CJK letter, two for one
    // outside the BMP, never none.
    {"?", {".", "x"}},
    {"??", {".."}},
    {"???", {"文件名"}},
    {"????", {"𠀀𠀁"}},
    {"?.txt", {"中.txt"}},
    {"??.txt", {"中文.txt", "𠀀.txt"}},
    {"???.txt", {"été.txt"}},
    {"????.txt", {}},
    {"?????.*", {"a.b.c", "noext", "中.txt", "Ωmega.Doc"}},
    {"𠀀?", {}},
    {"𠀀??", {"𠀀𠀁"}},
    {"中?.txt", {"中文.txt"}},
    {"?文.txt", {"中文.txt"}},
    {"文?名", {"文件名"}},
    {"文??名", {}},
    {"*文*", {"中文.txt", "文件名"}},
    // Case-blind as the file system compares names.
    {"ÉTÉ.TXT", {"été.txt"}},
    {"?TÉ.*", {"été.txt"}},
    {"ω*", {"Ωmega.Doc"}},
    {"ΩMEGA.DOC", {"Ωmega.Doc"}},
};

}  // namespace qv::test
