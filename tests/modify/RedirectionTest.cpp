// Acts on items that something else changed between two calls, or while one
// ran (folders and files swapped for links, hard links to files outside the
// target, names that are no single name), and on items only a check by
// identity confirms. Whatever the plug-in answers, nothing outside the
// target may change.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/ImportReplacement.h"
#include "tests/support/NativeShell.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class Redirection : public PluginTest {
protected:
  IBackupDataWrite* writer = MakeWriter();

  void Sh(const std::string& script) { ASSERT_EQ(RunNative(temp.path(), script), 0) << script; }
  // Names, modes, sizes, write times and bytes of outside/.
  std::string Outside() {
    Sh("{ find outside -exec stat -c '%n %a %s %Y' {} + | sort; cat outside/* | md5sum; } > fingerprint");
    return ReadFileBytes(temp / L"fingerprint");
  }
  // `beforeClose` runs natively between the last write and the close.
  uint32_t Put(const std::wstring& relative, uint32_t mode, const std::string& bytes,
               const std::string& beforeClose = "") {
    uint32_t id = 0;
    if (writer->Open(temp.Virtual(relative), mode, id) != 0) return 1;
    uint32_t size = static_cast<uint32_t>(bytes.size());
    const uint32_t status = writer->Write(bytes.data(), size, id);
    if (!beforeClose.empty()) Sh(beforeClose);
    writer->Close(id);
    return status;
  }
  bool Logged(const std::wstring& part) const {
    return std::any_of(log.messages.begin(), log.messages.end(), [&](const LoggedMessage& message) {
      return message.level >= Error && Contains(message.text, part);
    });
  }
};

struct Case {
  const char* what;
  const char* setup; // run in the test folder before the acts; makes outside/
  std::function<void()> acts;
};

DWORD WINAPI NoFinalPath(HANDLE, LPWSTR, DWORD, DWORD) {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return 0;
}

TEST_F(Redirection, NothingOutsideTheTargetChanges) {
  if (UnixPathOf(temp.path()).empty()) GTEST_SKIP() << "needs Wine's Linux side to make links";
  const std::vector<Case> cases = {
      {"a folder swapped for a link after it was made, then written into",
       "mkdir -p dst outside && echo keep > outside/f.txt", [this] {
         EXPECT_EQ(writer->CreateFolder(temp.Virtual(L"dst\\a")), 0u);
         Sh("mv dst/a dst/a-away && ln -s ../outside dst/a");
         Put(L"dst\\a\\f.txt", 2, "new");
       }},
      {"a listed folder and a listed file swapped for links, then listed and read",
       "mkdir -p src/sub outside && echo mine > src/f.txt && echo secret > outside/s.txt", [this] {
         FolderList list;
         writer->ListFolder(temp.Virtual(L"src"), list);
         Sh("mv src/sub src/sub-away && ln -s ../outside src/sub && mv src/f.txt src/f-away && "
              "ln -s ../outside/s.txt src/f.txt");
         FolderList inside;
         EXPECT_EQ(writer->ListFolder(temp.Virtual(L"src\\sub"), inside), 0u);
         EXPECT_TRUE(EntryNames(inside).empty());
         uint32_t id = 0;
         EXPECT_EQ(writer->Open(temp.Virtual(L"src\\f.txt"), 0, id), 1u);
         EXPECT_TRUE(Logged(L"is no longer the item that was there"));
       }},
      {"a hard link to a read-only outside file, written, re-attributed and removed",
       "mkdir -p dst outside && echo keep > outside/v.txt && chmod 444 outside/v.txt && ln outside/v.txt dst/v.txt",
       [this] {
         for (const uint32_t mode : {1u, 2u}) EXPECT_EQ(Put(L"dst\\v.txt", mode, "new"), 1u);
         EXPECT_EQ(writer->ApplyFileInfo(temp.Virtual(L"dst\\v.txt"), FileInfo()), 1u);
         EXPECT_TRUE(Logged(L"has 2 names (hard links)"));
         EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"dst\\v.txt")), 0u);
         EXPECT_FALSE(Exists(temp / L"dst\\v.txt"));
       }},
      {"a file just written, swapped for a link to one of its size and write time before its metadata",
       "mkdir -p dst outside && printf n > outside/v.txt && touch -d @1000000000 outside/v.txt", [this] {
         EXPECT_EQ(Put(L"dst\\n.txt", 2, "n", "touch -d @1000000000 dst/n.txt"), 0u);
         Sh("mv dst/n.txt dst/n-away && ln -s ../outside/v.txt dst/n.txt");
         FileInfo info;
         info.attributes = FILE_ATTRIBUTE_READONLY;
         info.validFields = 7;
         EXPECT_EQ(writer->ApplyFileInfo(temp.Virtual(L"dst\\n.txt"), info), 1u);
       }},
      {"names that are no single name, and names ending in a period or a blank",
       "mkdir -p dst/tree/sub outside && echo keep > outside/victim.txt && "
       "touch 'dst/tree/sub/..\\..\\..\\outside\\victim.txt' 'dst/tdot.' 'dst/tblank '",
       [this] {
         // Also through a network drive, whose path Windows normalizes.
         const std::wstring network(1, UnusedDriveLetter());
         RegistryOverride::AddNetworkDrive(network, temp.path());
         EXPECT_EQ(writer->RemoveFolder(network + L"$\\dst\\tree"), 1u);
         EXPECT_TRUE(Logged(L"holds a separator"));
         log.messages.clear();
         EXPECT_EQ(writer->RemoveFolder(temp.Virtual(L"dst\\tree")), 1u);
         EXPECT_TRUE(Logged(L"holds a separator"));
         EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"dst\\tdot.")), 0u);
         EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"dst\\tblank ")), 0u);
         EXPECT_FALSE(Exists(temp.Real(L"dst\\tdot.")) || Exists(temp.Real(L"dst\\tblank ")));
       }},
      {"a folder of a removal exchanged with a link to outside while the removal runs",
       "mkdir -p dst/tree/a outside && for i in $(seq 300); do echo keep > outside/f$i; echo x > dst/tree/a/f$i; "
       "done && ln -s ../../outside dst/tree/lnk", [this] {
         // renameat2(RENAME_EXCHANGE), 20,000 times, beside the removal.
         Sh("perl -e 'syscall(316, -100, \"dst/tree/a\", -100, \"dst/tree/lnk\", 2) for 1..20000' & "
              "echo $! > racer");
         writer->RemoveFolder(temp.Virtual(L"dst\\tree"));
         Sh("while kill -0 $(cat racer) 2>/dev/null; do sleep 0.05; done");
       }},
      {"a move across volumes onto a link whose target is missing",
       "mkdir -p dst outside && ln -s ../outside/missing.txt dst/t.txt && d=$(mktemp -d /dev/shm/dw.XXXXXX) && "
       "echo src > $d/s.txt && printf %s $d > shm", [this] {
         std::wstring source = L"Z$";
         for (char c : ReadFileBytes(temp / L"shm")) source += c == '/' ? L'\\' : static_cast<wchar_t>(c);
         EXPECT_EQ(writer->MoveItem(source + L"\\s.txt", temp.Virtual(L"dst\\t.txt")), 1u);
         EXPECT_TRUE(Logged(L"a link whose target is missing"));
         Sh("test -L dst/t.txt && test -f $(cat shm)/s.txt && rm -rf $(cat shm)");
       }},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    log.messages.clear();
    // An instance of its own: what one holds is what it reached, and the
    // folders of the case before were removed behind its back.
    writer = MakeWriter();
    Sh("rm -rf dst src outside && " + std::string(cases[i].setup));
    const std::string before = Outside();
    cases[i].acts();
    EXPECT_EQ(Outside(), before);
  }
}

// Where the system gives no final path (RAM disks, some network servers),
// identity from the held walk stands; a drive root is its own item.
TEST_F(Redirection, FilesAreReplacedAndRemovedWithoutAFinalPathAndARootTakesItsInformation) {
  const ImportReplacement noFinalPath(::GetModuleHandleW(L"Diskway.dll"), "kernel32.dll",
                                      "GetFinalPathNameByHandleW", reinterpret_cast<void*>(&NoFinalPath));
  ASSERT_TRUE(noFinalPath.active());
  WriteFileBytes(temp / L"e.txt", "old");
  EXPECT_EQ(Put(L"e.txt", 2, "new"), 0u);
  EXPECT_EQ(ReadFileBytes(temp / L"e.txt"), "new");
  EXPECT_EQ(writer->ApplyFileInfo(temp.Virtual(L"e.txt"), FileInfo()), 0u);
  EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"e.txt")), 0u);
  EXPECT_FALSE(Exists(temp / L"e.txt"));
  FileInfo root;
  ASSERT_EQ(writer->QueryFileInfo(L"Q$", root), 0u);
  EXPECT_EQ(writer->ApplyFileInfo(L"Q$", root), 0u);
  EXPECT_TRUE(log.messages.empty());
}

} // namespace
} // namespace test
