// The program's texts are GBK bytes; the screen gets UTF-16 converted from
// code page 936 so that they read right whatever the system's locale.
#pragma once

#include <string>
#include <string_view>

namespace qv {

std::wstring GbkToWide(std::string_view gbk);
std::string WideToGbk(std::wstring_view wide);

}  // namespace qv
