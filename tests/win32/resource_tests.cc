// quillet.exe as Explorer and the loader see it, without starting it: the version information
// (the file's properties), the icon in every size Explorer asks for, and the manifest. Works on
// the executables of either processor.
//
// Usage: win32_resource_tests.exe [GOOGLETEST-FLAGS] PATH-OF-quillet.exe...
// Each test runs once for each file.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"

namespace {

// The executables named on the command line.
std::vector<std::string> executables;

// The file's version resource, as the file's properties read it.
std::vector<char> VersionInfo(const char* exe) {
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(exe, &ignored));
  if (info.empty() || !GetFileVersionInfoA(exe, 0, static_cast<DWORD>(info.size()), info.data()))
    return {};
  return info;
}

// A text of the version resource in its first language, if present.
std::optional<std::string> VersionText(const std::vector<char>& info, const char* name) {
  struct Translation {
    WORD language, code_page;
  }* translation = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &size) ||
      size < sizeof *translation)
    return std::nullopt;
  char path[128];
  std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                translation->code_page, name);
  char* text = nullptr;
  if (!VerQueryValueA(info.data(), path, reinterpret_cast<void**>(&text), &size) || size == 0)
    return std::nullopt;
  return std::string(text);
}

// The executable's resources, loaded as data whatever its processor.
class Resources {
 public:
  explicit Resources(const char* exe)
      : module_(LoadLibraryExA(exe, nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  std::optional<std::string> Find(LPCSTR type, LPCSTR name) const {
    if (!module_) return std::nullopt;
    HRSRC found = FindResourceA(module_.get(), name, type);
    HGLOBAL loaded = found ? LoadResource(module_.get(), found) : nullptr;
    if (!loaded) return std::nullopt;
    return std::string(static_cast<const char*>(LockResource(loaded)),
                       SizeofResource(module_.get(), found));
  }

 private:
  quillet::win32::UniqueModule module_;
};

// The tests of one executable.
class ExecutableTest : public testing::TestWithParam<std::string> {
 protected:
  const char* exe() const { return GetParam().c_str(); }
};

TEST_P(ExecutableTest, TheVersionInformationNamesTheProductAndItsVersion) {
  const std::vector<char> info = VersionInfo(exe());
  ASSERT_FALSE(info.empty());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDul);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(QUILLET_VERSION, "%u.%u.%u", &major, &minor, &patch);
  for (const auto& [ms, ls] : {std::pair(fixed->dwFileVersionMS, fixed->dwFileVersionLS),
                               std::pair(fixed->dwProductVersionMS, fixed->dwProductVersionLS)}) {
    EXPECT_EQ(ms, static_cast<DWORD>(MAKELONG(minor, major)));
    EXPECT_EQ(ls, static_cast<DWORD>(MAKELONG(0, patch)));
  }
  const struct {
    const char* name;
    std::optional<std::string> text;
  } texts[] = {
      {"ProductName", "Quillet"},       {"ProductVersion", QUILLET_VERSION},
      {"FileVersion", QUILLET_VERSION}, {"OriginalFilename", "quillet.exe"},
      {"CompanyName", std::nullopt},
  };
  for (const auto& t : texts) EXPECT_EQ(VersionText(info, t.name), t.text) << t.name;
  EXPECT_TRUE(VersionText(info, "FileDescription").value_or("").starts_with("Quillet"));
}

// Explorer shows the first icon group; each of its entries is one size of the picture.
TEST_P(ExecutableTest, TheIconComesInTheSizesExplorerShows) {
  EXPECT_EQ(ExtractIconExA(exe(), -1, nullptr, nullptr, 0), 1u);
  const std::optional<std::string> group =
      Resources(exe()).Find(RT_GROUP_ICON, MAKEINTRESOURCEA(1));
  ASSERT_TRUE(group.has_value());
  ASSERT_GE(group->size(), 6u);
  // GRPICONDIR: reserved, type, count, then 14-byte entries that start with width and height (0
  // for 256).
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>((*group)[at]); };
  const unsigned count = byte(4) | byte(5) << 8;
  std::set<int> sizes;
  for (unsigned i = 0; i < count && 6 + 14 * (i + 1) <= group->size(); ++i) {
    const int width = byte(6 + 14 * i) ? byte(6 + 14 * i) : 256;
    const int height = byte(7 + 14 * i) ? byte(7 + 14 * i) : 256;
    EXPECT_EQ(width, height);
    sizes.insert(width);
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 256}));
}

// Visual styles, system DPI awareness and the Windows versions tested; no execution level, so
// that Windows treats the program as it always has.
TEST_P(ExecutableTest, TheManifestAsksForStylesAndDpiAwarenessButNoExecutionLevel) {
  const std::optional<std::string> manifest =
      Resources(exe()).Find(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID);
  ASSERT_TRUE(manifest.has_value());
  for (const char* part :
       {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
    EXPECT_NE(manifest->find(part), std::string::npos) << "the manifest lacks " << part;
  for (const char* absent : {"requestedExecutionLevel", "trustInfo"})
    EXPECT_EQ(manifest->find(absent), std::string::npos) << "the manifest has " << absent;
}

// Each test is named with the file's place among the arguments; a failure names the file.
INSTANTIATE_TEST_SUITE_P(Executables, ExecutableTest, testing::ValuesIn(executables));

}  // namespace

int main(int argc, char** argv) {
  // The files are known before GoogleTest takes its flags out of argv: it makes the tests of
  // each file as it does so.
  for (int i = 1; i < argc; ++i)
    if (!std::string(argv[i]).starts_with("--gtest_")) executables.emplace_back(argv[i]);
  if (executables.empty()) {
    std::printf("usage: win32_resource_tests [GOOGLETEST-FLAGS] PATH-OF-quillet.exe...\n");
    return 2;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
