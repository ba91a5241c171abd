// Every operation of both interfaces driven with thousands of generated
// hostile paths below one folder: nothing may crash, throw into the host, or
// change anything outside that folder.
#include <random>

#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class GeneratedPaths : public PluginTest {};

TEST_F(GeneratedPaths, HostilePathsChangeNothingOutsideTheirFolder) {
  const std::wstring playground = temp / L"root", outside = temp / L"outside";
  for (const std::wstring& folder : {playground, outside}) {
    MakeFolder(folder + L"\\dir\\sub");
    WriteFileBytes(folder + L"\\a", "sentinel");
    WriteFileBytes(folder + L"\\dir\\file.txt", "sentinel");
  }
  const auto outsideBefore = Describe(outside, ~0u), dataBefore = Describe(dataFolder, ~0u);
  ASSERT_FALSE(outsideBefore.empty());

  std::mt19937 random(20261205);
  const auto pick = [&](int max) { return std::uniform_int_distribution<int>(0, max)(random); };
  const std::vector<std::wstring> pieces = {
      L"a", L"file.txt", L"dir", L".", L"..", L"...", L"name.", L"name ", L" ", L"", L"x:y", L"q?", L"*",
      L"<>", L"\"", L"|", L"\t", std::wstring(1, L'\x01'), std::wstring(1, wchar_t(0xD800)),
      std::wstring(1, wchar_t(0xDC00)) + L"z", L"\u00e9\u4e2d", L"/", L"a/b", std::wstring(300, L'l'),
      L"CON", L"nul.txt", L"$", L"C:", L"\\\\?\\"};
  const std::wstring base = ToVirtual(playground);
  // A path of hostile components below the playground, separators anywhere.
  const auto next = [&] {
    std::wstring path = base + L"\\";
    for (int i = 0, count = pick(6); i <= count; ++i) {
      if (i > 0 || pick(4) == 0) path += L'\\';
      if (pick(8) == 0) path += L'\\';
      path += pieces[static_cast<size_t>(pick(static_cast<int>(pieces.size()) - 1))];
    }
    if (pick(10) == 0) path += std::wstring(static_cast<size_t>(pick(2000)), L'd');
    return pick(6) == 0 ? path + L'\\' : path;
  };

  IBackupDataWrite* writer = MakeWriter();
  IBackupDataRead* reader = MakeReader();
  std::vector<char> buffer(4096, 'w');
  // An exception leaving the plug-in fails the test: GoogleTest catches it.
  for (int i = 0; i < 3000; ++i) {
    const std::wstring path = next();
    uint32_t id = 0, size = static_cast<uint32_t>(buffer.size());
    int64_t offset = pick(100) - 10;
    uint64_t total = 0, free = 0;
    FileInfo info;
    FolderList list;
    switch (pick(11)) {
      case 0: reader->ListFolder(path, list); break;
      case 1: reader->QueryFileInfo(path, info); break;
      case 2: reader->GetFreeSpace(path, total, free); break;
      case 3: EXPECT_FALSE(reader->SanitizePath(path).empty()); break;
      case 4: writer->CreateFolder(path); break;
      case 5: writer->RemoveFile(path); break;
      case 6: writer->RemoveFolder(path); break;
      case 7: writer->MoveItem(path, next()); break;
      case 8:
        info.attributes = static_cast<uint32_t>(pick(0x3FFF));
        info.validFields = static_cast<uint32_t>(pick(0xF));
        writer->ApplyFileInfo(path, info);
        break;
      default: {
        const uint32_t mode = static_cast<uint32_t>(pick(3));
        if (writer->Open(path, mode, id) != 0) break;
        mode == 0 ? writer->Read(buffer.data(), size, id) : writer->Write(buffer.data(), size, id);
        writer->Seek(id, offset);
        writer->Close(id);
      }
    }
  }

  EXPECT_EQ(Describe(outside, ~0u), outsideBefore);
  EXPECT_EQ(Describe(dataFolder, ~0u), dataBefore);
  EXPECT_GT(log.messages.size(), 100u) << "hostile paths are reported, not silently accepted";
}

} // namespace
} // namespace test
