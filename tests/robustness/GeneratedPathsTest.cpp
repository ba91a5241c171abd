// Every operation of both interfaces driven with thousands of generated
// hostile paths below one folder: nothing may crash, throw into the host, or
// change anything outside that folder.
#include <map>
#include <random>

#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"

namespace test {
namespace {

// Everything under `folder` that a stray operation could have changed.
std::map<std::wstring, std::wstring> Snapshot(const std::wstring& folder) {
  std::map<std::wstring, std::wstring> state;
  std::vector<std::wstring> pending{folder};
  while (!pending.empty()) {
    const std::wstring current = pending.back();
    pending.pop_back();
    WIN32_FIND_DATAW data;
    VMLib::UniqueFind search(::FindFirstFileW((L"\\\\?\\" + current + L"\\*").c_str(), &data));
    if (!search) continue;
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      state[current + L"\\" + name] = std::to_wstring(data.dwFileAttributes) + L" " +
                                      std::to_wstring(data.nFileSizeLow) + L" " +
                                      std::to_wstring(data.ftLastWriteTime.dwLowDateTime);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) pending.push_back(current + L"\\" + name);
    } while (::FindNextFileW(search.get(), &data));
  }
  return state;
}

class PathGenerator {
public:
  explicit PathGenerator(uint32_t seed) : random_(seed) {}

  // A relative path of hostile components, separators anywhere.
  std::wstring Next() {
    static const std::vector<std::wstring> pieces = {
        L"a", L"file.txt", L"dir", L".", L"..", L"...", L"name.", L"name ", L" ", L"", L"x:y", L"q?", L"*",
        L"<>", L"\"", L"|", L"\t", std::wstring(1, L'\x01'), std::wstring(1, wchar_t(0xD800)),
        std::wstring(1, wchar_t(0xDC00)) + L"z", L"\u00e9\u4e2d", L"/", L"a/b", std::wstring(300, L'l'),
        L"CON", L"nul.txt", L"$", L"C:", L"\\\\?\\"};
    std::wstring path;
    const int count = Pick(6);
    for (int i = 0; i <= count; ++i) {
      if (i > 0 || Pick(4) == 0) path += L'\\';
      if (Pick(8) == 0) path += L'\\';
      path += pieces[static_cast<size_t>(Pick(static_cast<int>(pieces.size()) - 1))];
    }
    if (Pick(10) == 0) path += std::wstring(static_cast<size_t>(Pick(2000)), L'd');
    if (Pick(6) == 0) path += L'\\';
    return path;
  }
  int Pick(int max) { return std::uniform_int_distribution<int>(0, max)(random_); }

private:
  std::mt19937 random_;
};

class GeneratedPaths : public PluginTest {};

TEST_F(GeneratedPaths, HostilePathsChangeNothingOutsideTheirFolder) {
  const std::wstring playground = temp / L"root";
  const std::wstring outside = temp / L"outside";
  for (const std::wstring& folder : {playground + L"\\dir\\sub", outside + L"\\dir"}) MakeFolder(folder);
  for (const std::wstring& file : {playground + L"\\a", playground + L"\\dir\\file.txt", outside + L"\\a",
                                   outside + L"\\dir\\file.txt"}) {
    WriteFileBytes(file, "sentinel");
  }
  const auto outsideBefore = Snapshot(outside);
  const auto dataBefore = Snapshot(dataFolder);
  ASSERT_FALSE(outsideBefore.empty());

  IBackupDataWrite* writer = MakeWriter();
  IBackupDataRead* reader = MakeReader();
  ASSERT_NE(writer, nullptr);
  const std::wstring base = ToVirtual(playground);
  PathGenerator generate(20261205);
  std::vector<char> buffer(4096, 'w');
  const int operations = 3000;
  for (int i = 0; i < operations; ++i) {
    const std::wstring path = base + L"\\" + generate.Next();
    try {
      uint32_t id = 0, size = static_cast<uint32_t>(buffer.size());
      int64_t offset = generate.Pick(100) - 10;
      FileInfo info;
      FolderList list;
      uint64_t total = 0, free = 0;
      switch (generate.Pick(11)) {
        case 0: reader->ListFolder(path, list); break;
        case 1: reader->QueryFileInfo(path, info); break;
        case 2: reader->GetFreeSpace(path, total, free); break;
        case 3: EXPECT_FALSE(reader->SanitizePath(path).empty()); break;
        case 4: writer->CreateFolder(path); break;
        case 5: writer->RemoveFile(path); break;
        case 6: writer->RemoveFolder(path); break;
        case 7: writer->MoveItem(path, base + L"\\" + generate.Next()); break;
        case 8:
          info.attributes = static_cast<uint32_t>(generate.Pick(0x3FFF));
          info.validFields = static_cast<uint32_t>(generate.Pick(0xF));
          writer->ApplyFileInfo(path, info);
          break;
        default: {
          const uint32_t mode = static_cast<uint32_t>(generate.Pick(3));
          if (writer->Open(path, mode, id) == 0) {
            if (mode == 0) {
              reader->Read(buffer.data(), size, id);
            } else {
              writer->Write(buffer.data(), size, id);
            }
            writer->Seek(id, offset);
            writer->Close(id);
          }
          break;
        }
      }
    } catch (...) {
      ADD_FAILURE() << "an exception left the plug-in at operation " << i;
    }
  }
  writer->Reserved6();
  writer->Reserved7();
  reader->Reserved8();

  EXPECT_EQ(Snapshot(outside), outsideBefore);
  EXPECT_EQ(Snapshot(dataFolder), dataBefore);
  EXPECT_GT(log.messages.size(), 100u) << "hostile paths are reported, not silently accepted";
}

} // namespace
} // namespace test
