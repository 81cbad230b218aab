// The shipped 32-bit DLL read as a file: machine, exports and imports. It holds on any machine,
// also where 32-bit Windows programs cannot be started.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef LINEVIEW_WIN32_DLL
#define LINEVIEW_WIN32_DLL ""
#endif

namespace {

class PeFile {
 public:
  explicit PeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
  }
  bool Loaded() const { return bytes_.size() > 0x40; }
  uint32_t U32(size_t at) const { return at + 4 <= bytes_.size() ? Read<uint32_t>(at) : 0; }
  uint16_t U16(size_t at) const { return at + 2 <= bytes_.size() ? Read<uint16_t>(at) : 0; }
  std::string Text(size_t at) const {
    std::string s;
    while (at < bytes_.size() && bytes_[at]) s += static_cast<char>(bytes_[at++]);
    return s;
  }
  size_t Pe() const { return U32(0x3C); }
  uint16_t Machine() const { return U16(Pe() + 4); }
  size_t Optional() const { return Pe() + 24; }
  uint32_t DirectoryRva(int index) const { return U32(Optional() + 96 + 8 * index); }  // PE32 layout
  // Maps a relative virtual address to a file offset through the section table.
  size_t Offset(uint32_t rva) const {
    const size_t sections = Optional() + U16(Pe() + 20);
    for (int i = 0; i < U16(Pe() + 6); ++i) {
      const size_t s = sections + 40 * i;
      const uint32_t va = U32(s + 12), size = std::max(U32(s + 8), U32(s + 16)), raw = U32(s + 20);
      if (rva >= va && rva < va + size) return raw + (rva - va);
    }
    return bytes_.size();
  }

 private:
  template <class T>
  T Read(size_t at) const {
    T v;
    std::memcpy(&v, &bytes_[at], sizeof v);
    return v;
  }
  std::vector<uint8_t> bytes_;
};

TEST(Win32Dll, IsA32BitDllWithTwoUndecoratedExportsAndSystemImportsOnly) {
  const PeFile dll(LINEVIEW_WIN32_DLL);
  if (!dll.Loaded()) GTEST_SKIP() << "no win32 build at " << LINEVIEW_WIN32_DLL;
  ASSERT_EQ(dll.Text(dll.Pe()), "PE");
  EXPECT_EQ(dll.Machine(), 0x14C);          // i386
  EXPECT_EQ(dll.U16(dll.Optional()), 0x10B);  // PE32
  EXPECT_TRUE(dll.U16(dll.Pe() + 22) & 0x2000) << "not flagged as a DLL";

  const size_t exports = dll.Offset(dll.DirectoryRva(0));
  const uint32_t names = dll.U32(exports + 24);
  EXPECT_EQ(dll.U32(exports + 20), 2u);  // functions
  ASSERT_EQ(names, 2u);
  std::vector<std::string> exported;
  const size_t nameTable = dll.Offset(dll.U32(exports + 32));
  for (uint32_t i = 0; i < names; ++i) exported.push_back(dll.Text(dll.Offset(dll.U32(nameTable + 4 * i))));
  EXPECT_EQ(exported, (std::vector<std::string>{"Kestrova_Plugin_PR", "Kestrova_Plugin_Version"}));

  const std::vector<std::string> allowed = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "comctl32.dll",
                                            "comdlg32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"};
  int count = 0;
  for (size_t imp = dll.Offset(dll.DirectoryRva(1)); dll.U32(imp + 12) != 0; imp += 20, ++count) {
    std::string name = dll.Text(dll.Offset(dll.U32(imp + 12)));
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(::tolower(c)); });
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end()) << name;
    ASSERT_LT(count, 64);
  }
  EXPECT_GT(count, 0);
}

}  // namespace
