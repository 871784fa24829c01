// What Windows' file properties show for qvSetup.exe: the version resource
// says what the program is, with the version resources/version.h gives.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "framework/text_conv.h"
#include "resources/version.h"
#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

TEST(Program, CarriesItsVersionResource) {
  const std::wstring exe = Utf8ToWide(g_setupExe);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource";
  std::vector<std::uint8_t> info(size);
  ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

  void* p = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", &p, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(p);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(QV_VERSION_MINOR, QV_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, QV_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  // The one translation the strings are kept under: US English, Unicode.
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &p, &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(static_cast<const WORD*>(p)[0], 0x0409);
  EXPECT_EQ(static_cast<const WORD*>(p)[1], 1200);

  const struct {
    const wchar_t* name;
    const char* expected;
  } strings[] = {
      {L"ProductName", QV_PRODUCT_NAME},     {L"ProductVersion", QV_VERSION_TEXT},
      {L"FileVersion", QV_VERSION_TEXT},     {L"FileDescription", "qvSetup installer"},
      {L"OriginalFilename", "qvSetup.exe"},
  };
  for (const auto& s : strings) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.name;
    ASSERT_TRUE(::VerQueryValueW(info.data(), path.c_str(), &p, &length)) << WideToUtf8(s.name);
    EXPECT_EQ(WideToUtf8(static_cast<const wchar_t*>(p)), s.expected) << WideToUtf8(s.name);
  }
  // The version text and the numbers agree.
  EXPECT_EQ(std::string(QV_VERSION_TEXT), std::to_string(QV_VERSION_MAJOR) + "." + std::to_string(QV_VERSION_MINOR) +
                                              "." + std::to_string(QV_VERSION_PATCH));
  // Nothing claims a copyright holder.
  EXPECT_FALSE(::VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\LegalCopyright", &p, &length) &&
               length > 1);
}

}  // namespace
}  // namespace qv::e2e
