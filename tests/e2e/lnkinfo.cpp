// Reads a shortcut back through the shell's own shortcut object and writes
// its fields, one per line (target, arguments, working folder, icon file,
// icon index, description), as UTF-8 to a file.
//
//     lnkinfo.exe shortcut.lnk out.txt
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc != 3 || FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))) ||
      FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) ||
      FAILED(file->Load(argv[1], STGM_READ)))
    return 1;
  wchar_t target[32768] = L"", arguments[32768] = L"", folder[32768] = L"", icon[32768] = L"", text[32768] = L"";
  int index = 0;
  link->GetPath(target, 32768, nullptr, SLGP_RAWPATH);
  link->GetArguments(arguments, 32768);
  link->GetWorkingDirectory(folder, 32768);
  link->GetIconLocation(icon, 32768, &index);
  link->GetDescription(text, 32768);
  FILE* out = ::_wfopen(argv[2], L"wb");
  if (!out) return 1;
  const std::string lines = Utf8(target) + "\n" + Utf8(arguments) + "\n" + Utf8(folder) + "\n" + Utf8(icon) + "\n" +
                            std::to_string(index) + "\n" + Utf8(text) + "\n";
  std::fwrite(lines.data(), 1, lines.size(), out);
  std::fclose(out);
  return 0;
}
