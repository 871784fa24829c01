// Reads a program's version details and icons back through the system, as
// Explorer would, and writes them as UTF-8 "name=value" lines to a file:
// the translation, the fixed version numbers, the version texts, the number
// of icons, and the first icon's large and 16x16 images: sizes and centre colours.
//
//     verinfo.exe program.exe out.txt
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

std::string Numbers(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
         "." + std::to_string(LOWORD(low));
}

// "width height RRGGBB": the colour from the pixels themselves, so the test
// tells its own icon from the program's built-in one of the same size.
std::string Describe(HICON icon) {
  ICONINFO info{};
  if (!icon || !::GetIconInfo(icon, &info)) return "none";
  BITMAP bitmap{};
  ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  std::string text = std::to_string(bitmap.bmWidth) + " " + std::to_string(bitmap.bmHeight);
  if (info.hbmColor) {
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = bitmap.bmWidth;
    header.bmiHeader.biHeight = -bitmap.bmHeight;  // top-down
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<size_t>(bitmap.bmWidth) * bitmap.bmHeight);
    HDC dc = ::GetDC(nullptr);
    if (::GetDIBits(dc, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &header, DIB_RGB_COLORS))
      text += " " + Hex(pixels[bitmap.bmHeight / 2 * bitmap.bmWidth + bitmap.bmWidth / 2] & 0xFFFFFF, 6);
    ::ReleaseDC(nullptr, dc);
  }
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  return text;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc != 3) return 2;
  std::string lines;
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(argv[1], &handle);
  std::vector<char> data(size);
  if (size && ::GetFileVersionInfoW(argv[1], 0, size, data.data())) {
    void* value = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(data.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
      const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
      lines += "FixedFileVersion=" + Numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + "\n";
      lines += "FixedProductVersion=" + Numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS) + "\n";
    }
    if (::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
      const auto* pair = static_cast<const WORD*>(value);
      wchar_t block[64];
      ::_snwprintf(block, 64, L"\\StringFileInfo\\%04X%04X\\", pair[0], pair[1]);
      lines += "Translation=" + Hex(pair[0], 4) + Hex(pair[1], 4) + "\n";
      for (const wchar_t* name : {L"ProductName", L"CompanyName", L"FileDescription", L"ProductVersion",
                                  L"FileVersion", L"LegalCopyright", L"OriginalFilename"}) {
        const std::wstring path = block + std::wstring(name);
        if (::VerQueryValueW(data.data(), path.c_str(), &value, &length) && length)
          lines += Utf8(name) + "=" + Utf8(static_cast<const wchar_t*>(value)) + "\n";
      }
    }
  }
  lines += "Icons=" + std::to_string(::ExtractIconExW(argv[1], -1, nullptr, nullptr, 0)) + "\n";
  HICON large = nullptr, small = nullptr;
  if (::ExtractIconExW(argv[1], 0, &large, nullptr, 1)) lines += "Large=" + Describe(large) + "\n";
  // Asked for by size: Wine's ExtractIconExW shrinks the large image for the
  // small icon even when the group has a 16x16 one.
  UINT id = 0;
  if (::PrivateExtractIconsW(argv[1], 0, 16, 16, &small, &id, 1, 0) == 1) lines += "Small=" + Describe(small) + "\n";
  FILE* out = ::_wfopen(argv[2], L"wb");
  if (!out) return 1;
  std::fwrite(lines.data(), 1, lines.size(), out);
  std::fclose(out);
  return 0;
}
