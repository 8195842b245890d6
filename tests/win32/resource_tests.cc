// quillet.exe as Explorer and the loader see it, without starting it: the version information
// (the file's properties), the icon in every size Explorer asks for, and the manifest. Works on
// the executables of either processor.
//
// Usage: win32_resource_tests.exe PATH-OF-quillet.exe...
// Prints "N passed, M failed" last for each file.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/win32/check.h"

namespace {

using quillet::wintest::Show;

const char* exe = nullptr;

// The file's version resource, as the file's properties read it.
std::vector<char> VersionInfo() {
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
  Resources()
      : module_(LoadLibraryExA(exe, nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~Resources() {
    if (module_) FreeLibrary(module_);
  }
  Resources(const Resources&) = delete;
  Resources& operator=(const Resources&) = delete;

  std::optional<std::string> Find(LPCSTR type, LPCSTR name) const {
    if (!module_) return std::nullopt;
    HRSRC found = FindResourceA(module_, name, type);
    HGLOBAL loaded = found ? LoadResource(module_, found) : nullptr;
    if (!loaded) return std::nullopt;
    return std::string(static_cast<const char*>(LockResource(loaded)),
                       SizeofResource(module_, found));
  }

 private:
  HMODULE module_;
};

void TheVersionInformationNamesTheProductAndItsVersion() {
  const std::vector<char> info = VersionInfo();
  CHECK(!info.empty());
  if (info.empty()) return;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  CHECK(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  if (!fixed) return;
  CHECK_EQ(fixed->dwSignature, 0xFEEF04BDul);
  CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(QUILLET_VERSION, "%u.%u.%u", &major, &minor, &patch);
  for (const auto& [ms, ls] : {std::pair(fixed->dwFileVersionMS, fixed->dwFileVersionLS),
                               std::pair(fixed->dwProductVersionMS, fixed->dwProductVersionLS)}) {
    CHECK_EQ(ms, static_cast<DWORD>(MAKELONG(minor, major)));
    CHECK_EQ(ls, static_cast<DWORD>(MAKELONG(0, patch)));
  }
  CHECK_EQ(VersionText(info, "ProductName"), std::optional<std::string>("Quillet"));
  CHECK_EQ(VersionText(info, "ProductVersion"), std::optional<std::string>(QUILLET_VERSION));
  CHECK_EQ(VersionText(info, "FileVersion"), std::optional<std::string>(QUILLET_VERSION));
  CHECK_EQ(VersionText(info, "OriginalFilename"), std::optional<std::string>("quillet.exe"));
  CHECK(VersionText(info, "FileDescription").value_or("").starts_with("Quillet"));
  CHECK_EQ(VersionText(info, "CompanyName"), std::optional<std::string>());
}

// Explorer shows the first icon group; each of its entries is one size of the picture.
void TheIconComesInTheSizesExplorerShows() {
  CHECK_EQ(ExtractIconExA(exe, -1, nullptr, nullptr, 0), 1u);
  const std::optional<std::string> group = Resources().Find(RT_GROUP_ICON, MAKEINTRESOURCEA(1));
  CHECK(group.has_value());
  if (!group || group->size() < 6) return;
  // GRPICONDIR: reserved, type, count, then 14-byte entries that start with width and height (0
  // for 256).
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>((*group)[at]); };
  const unsigned count = byte(4) | byte(5) << 8;
  std::set<int> sizes;
  for (unsigned i = 0; i < count && 6 + 14 * (i + 1) <= group->size(); ++i) {
    const int width = byte(6 + 14 * i) ? byte(6 + 14 * i) : 256;
    const int height = byte(7 + 14 * i) ? byte(7 + 14 * i) : 256;
    CHECK_EQ(width, height);
    sizes.insert(width);
  }
  CHECK(sizes == (std::set<int>{16, 32, 48, 256}));
}

// Visual styles, system DPI awareness and the Windows versions tested; no execution level, so
// that Windows treats the program as it always has.
void TheManifestAsksForStylesAndDpiAwarenessButNoExecutionLevel() {
  const std::optional<std::string> manifest =
      Resources().Find(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID);
  CHECK(manifest.has_value());
  const std::string text = manifest.value_or("");
  for (const char* part :
       {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    if (text.find(part) == std::string::npos)
      quillet::wintest::Fail(__FILE__, __LINE__, std::string("the manifest lacks ") + part);
  }
  CHECK(text.find("requestedExecutionLevel") == std::string::npos);
  CHECK(text.find("trustInfo") == std::string::npos);
}

const quillet::wintest::Test kTests[] = {
    {"TheVersionInformationNamesTheProductAndItsVersion",
     TheVersionInformationNamesTheProductAndItsVersion},
    {"TheIconComesInTheSizesExplorerShows", TheIconComesInTheSizesExplorerShows},
    {"TheManifestAsksForStylesAndDpiAwarenessButNoExecutionLevel",
     TheManifestAsksForStylesAndDpiAwarenessButNoExecutionLevel},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: win32_resource_tests PATH-OF-quillet.exe...\n");
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    exe = argv[i];
    std::printf("%s\n", exe);
    if (quillet::wintest::RunTests(kTests) != 0) status = 1;
  }
  return status;
}
