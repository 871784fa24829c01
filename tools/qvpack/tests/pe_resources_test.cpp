// The icon and version written into real Windows programs, read back by
// another tool (icoutils' wrestool).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "framework/portable/little_endian.h"
#include "framework/portable/utf8.h"
#include "package/memory_bytes.h"
#include "package/pe.h"
#include "package/pe_resources.h"

namespace qv::pack {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  char buffer[4096];
  for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  if (pipe) ::pclose(pipe);
  return out;
}

std::uint32_t U(const std::string& b, std::size_t at, int n) { return std::uint32_t(LoadLe(b.data() + at, n)); }

std::string Utf16(const std::string& text) {
  std::string b;
  for (char16_t c : Utf8ToUtf16(text)) AppendLe(b, c, 2);
  return b;
}

// A .ico of two images, laid out as wrestool lays out what it extracts.
std::string TestIcon() {
  const std::string images[] = {std::string(40, '\x11') + "small", "another, larger image"};
  const unsigned char sizes[] = {16, 0};
  std::string ico = {0, 0, 1, 0, 2, 0};
  std::size_t offset = 6 + 16 * 2;
  for (int i = 0; i < 2; ++i) {
    ico += {static_cast<char>(sizes[i]), static_cast<char>(sizes[i]), 0, 0, 1, 0, 32, 0};
    for (std::uint32_t v : {std::uint32_t(images[i].size()), std::uint32_t(offset)})
      for (int k = 0; k < 4; ++k) ico += static_cast<char>(v >> (8 * k));
    offset += images[i].size();
  }
  return ico + images[0] + images[1];
}

// The listing of the resources of these types, without where they lie.
std::string Listing(const fs::path& file, const std::string& types) {
  std::string kept;
  for (const char* t : {"2", "6", "10", "14", "24"})
    if (types.find(std::string(",") + t + ",") != std::string::npos)
      for (const std::string& line : {Output("wrestool -l --type=" + std::string(t) + " '" + file.string() + "'")})
        for (std::size_t at = 0, end; (end = line.find('\n', at)) != std::string::npos; at = end + 1)
          kept += line.substr(at, line.find(" [", at) - at) + "\n";
  return kept;
}

class PeResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pe_resources_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(PeResourcesTest, RealProgramsWearTheNewIconAndVersionAndKeepTheRest) {
  const struct {
    fs::path program;
    std::string group;  // the icon group's listing after, without where it lies
  } kPrograms[] = {
      // Resources before .reloc, as in the setup program.
      {fs::path(TEST_PROGRAMS) / "stub.exe", "--type=14 --name='MAINICON' --language=1033"},
      {fs::path(TEST_PROGRAMS) / "languages.exe", "--type=14 --name=1 --language=0"},  // resources last, 2 languages
      {fs::path(TEST_PROGRAMS) / "bare.exe", "--type=14 --name=1 --language=0"},       // no resources
  };
  Identity identity;
  identity.icon = TestIcon();
  VersionTexts& v = identity.version.emplace();
  v.productName = "Cheese Maker";
  v.companyName = "Käse GmbH";
  v.fileDescription = "Cheese Maker Setup";
  v.fileVersion = v.productVersion = "1.2.3";
  v.originalFilename = "cheese.exe";

  for (const auto& p : kPrograms) {
    SCOPED_TRACE(p.program);
    const std::string in = ReadBytes(p.program);
    std::string out, again;
    ASSERT_EQ(ReplaceResources(in, identity, out), "");
    ASSERT_EQ(ReplaceResources(in, identity, again), "");
    EXPECT_EQ(out, again);
    const fs::path written = dir_ / p.program.filename();
    std::ofstream(written, std::ios::binary) << out;

    // wrestool gives as many bytes more as the group's directory holds, of
    // whatever follows (so with the program's own icon too).
    const std::string ico = Output("wrestool -x --type=14 '" + written.string() + "'");
    EXPECT_EQ(ico.substr(0, identity.icon->size()), *identity.icon);
    EXPECT_EQ(ico.size(), identity.icon->size() + 6 + 14 * 2);
    EXPECT_EQ(Listing(written, ",14,"), p.group + "\n");
    EXPECT_EQ(Listing(written, ",2,6,10,24,"), Listing(p.program, ",2,6,10,24,"));
    EXPECT_EQ(Output("wrestool -x --raw --type=10 '" + written.string() + "'"),
              Output("wrestool -x --raw --type=10 '" + p.program.string() + "'"));

    const std::string version = Output("wrestool -x --raw --type=16 '" + written.string() + "'");
    ASSERT_GE(version.size(), 92u);
    EXPECT_EQ(U(version, 0, 2), version.size());
    EXPECT_EQ(version.substr(6, 32), Utf16("VS_VERSION_INFO") + std::string(2, '\0'));
    EXPECT_EQ(U(version, 40, 4), 0xFEEF04BDu);
    for (std::size_t at : {48, 56}) {  // file, then product version
      EXPECT_EQ(U(version, at, 4), 0x00010002u);
      EXPECT_EQ(U(version, at + 4, 4), 0x00030000u);
    }
    for (const char* text : {"ProductName", "Cheese Maker", "CompanyName", "Käse GmbH", "FileVersion",
                                    "1.2.3", "OriginalFilename", "cheese.exe", "040904B0", "Translation"})
      EXPECT_NE(version.find(Utf16(text) + std::string(2, '\0')), std::string::npos) << text;
    EXPECT_EQ(version.find(Utf16("LegalCopyright")), std::string::npos);

    // Every byte outside the headers' touched fields and the resources is as it was.
    MemorySource source(in);
    const pe::Headers h = *pe::ReadHeaders(source);
    const pe::OptionalHeader o = *pe::ReadOptionalHeader(source, h);
    const std::vector<pe::Section> sections = *pe::ReadSections(source, h);
    const std::uint64_t count = h.fileHeader + pe::kSectionCount, resources = o.Directory(pe::kResourceDirectory);
    const std::uint32_t resourceRva = U(out, resources + pe::kDirectoryAddress, 4);
    std::string masked = out.substr(0, h.SectionTable()), original = in.substr(0, h.SectionTable());
    for (const auto& [at, n] : {std::pair{count, std::size_t(2)},
                                {o.at + pe::kImageSize, 4},
                                {o.at + pe::kChecksum, 4},
                                {resources, pe::kDirectorySize}}) {
      masked.replace(at, n, n, '\0');
      original.replace(at, n, n, '\0');
    }
    EXPECT_EQ(masked, original);
    EXPECT_EQ(U(out, count, 2), sections.size() + (sections.back().va != resourceRva));
    for (const pe::Section& s : sections) {
      if (s.va == resourceRva) continue;  // rewritten in place
      EXPECT_EQ(out.substr(s.header, pe::kSectionHeaderSize), in.substr(s.header, pe::kSectionHeaderSize));
      EXPECT_EQ(out.substr(s.rawPointer, s.rawSize), in.substr(s.rawPointer, s.rawSize));
    }
  }
}

TEST_F(PeResourcesTest, RefusesWhatIsNoSoundProgram) {
  const std::string stub = ReadBytes(fs::path(TEST_PROGRAMS) / "stub.exe");
  MemorySource source(stub);
  const pe::Headers h = *pe::ReadHeaders(source);
  const pe::OptionalHeader o = *pe::ReadOptionalHeader(source, h);
  const std::uint64_t resources = o.Directory(pe::kResourceDirectory);
  std::string badIcon = TestIcon();
  badIcon[6 + 12] = '\x7F';  // the first image beyond the file's end
  std::string farResources = stub;
  farResources[resources + pe::kDirectoryAddress + 3] = '\x70';
  std::string sizedResources = stub;
  StoreLe(&sizedResources[resources + pe::kDirectoryLength], 8, 4);  // not even the root directory
  // A certificate table appended, as signing leaves the program.
  std::string signedStub = stub + std::string(8, '\0');
  StoreLe(&signedStub[o.Directory(pe::kCertificateDirectory) + pe::kDirectoryAddress], stub.size(), 4);
  StoreLe(&signedStub[o.Directory(pe::kCertificateDirectory) + pe::kDirectoryLength], 8, 4);
  const struct {
    std::string program, icon, version, error;
  } kCases[] = {
      {"", TestIcon(), "1", "the setup program is no PE program"},
      {stub.substr(0, h.OptionalHeader() + 6), TestIcon(), "1", "the setup program is no PE program"},
      {stub.substr(0, stub.size() - 1), TestIcon(), "1", "a section of the setup program lies outside the file"},
      {farResources, TestIcon(), "1", "the setup program's resources are damaged: a resource directory lies outside the resources"},
      {sizedResources, TestIcon(), "1", "the setup program's resources are damaged: a resource directory lies outside the resources"},
      {signedStub, TestIcon(), "1", "the setup program is signed: sign it after packing"},
      {stub, badIcon, "1", "the icon is an .ico file cut short"},
      {stub, "not an icon", "1", "the icon is no .ico file"},
      {stub, TestIcon(), "1.2.x", "a version is not numbers a.b.c.d"},
      {stub, TestIcon(), "1.2.3.4.5", "a version is not numbers a.b.c.d"},
      {stub, TestIcon(), "1.65536", "a version is not numbers a.b.c.d"},
  };
  for (const auto& c : kCases) {
    Identity identity;
    identity.icon = c.icon;
    identity.version.emplace().fileVersion = c.version;
    identity.version->productVersion = "1";
    std::string out;
    EXPECT_EQ(ReplaceResources(c.program, identity, out), c.error) << c.version;
  }
}

}  // namespace
}  // namespace qv::pack
