// get and put where only a fake plug-in can fail: a read that breaks off
// midway, a plug-in that takes part of each write, a full disk reported as
// status 7 (the real plug-in on Wine's full drive returns 1, which the
// end-to-end suite meets).
#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/jobs/Transfer.h"
#include "host/session/HostError.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using host::CopyFromLocal;
using host::CopyToLocal;
using host::HostError;

namespace {

// Files in memory on one disk of `capacity` bytes. Like the plug-in, it
// cannot remove a file it holds open, and a move replaces the target.
class FakeData final : public IBackupDataWrite {
public:
  std::map<std::wstring, std::string> files;
  size_t readFailsAt = std::numeric_limits<size_t>::max(); // Read fails once this many bytes were read
  size_t capacity = std::numeric_limits<size_t>::max();    // Write returns 7 beyond this many bytes on the disk
  uint32_t writeChunk = std::numeric_limits<uint32_t>::max(); // Write takes at most this much a call
  std::vector<uint32_t> modes; // of each Open

  uint32_t Open(const std::wstring& path, uint32_t mode, uint32_t& id) override {
    modes.push_back(mode);
    id = 0;
    if (!open_.empty() || (mode == OpenRead && files.count(path) == 0)) return StatusFailure;
    if (mode != OpenRead) files[path].clear();
    open_ = path;
    position_ = 0;
    id = 1;
    return StatusSuccess;
  }
  uint32_t Read(void* buffer, uint32_t& size, const uint32_t& id) override {
    if (open_.empty()) return StatusFailure;
    const std::string& file = files[open_];
    if (position_ >= readFailsAt) {
      size = 0;
      return StatusFailure;
    }
    size = static_cast<uint32_t>(std::min<size_t>({size, file.size() - position_, readFailsAt - position_}));
    std::memcpy(buffer, file.data() + position_, size);
    position_ += size;
    return size == 0 ? StatusEndOfData : StatusSuccess;
  }
  uint32_t Write(const void* buffer, uint32_t& size, const uint32_t& id) override {
    if (open_.empty()) return StatusFailure;
    size_t used = 0;
    for (const auto& [name, bytes] : files) used += bytes.size();
    const size_t room = capacity - std::min(capacity, used);
    const uint32_t wanted = size;
    size = static_cast<uint32_t>(std::min<size_t>({wanted, writeChunk, room}));
    files[open_].append(static_cast<const char*>(buffer), size);
    return size < wanted && size == room ? StatusDiskFull : StatusSuccess;
  }
  uint32_t Close(uint32_t& id) override {
    open_.clear();
    return StatusSuccess;
  }
  uint32_t RemoveFile(const std::wstring& path) override {
    if (path == open_) return StatusFailure;
    files.erase(path);
    return StatusSuccess;
  }
  uint32_t QueryFileInfo(const std::wstring& path, FileInfo& info) override {
    if (files.count(path) == 0) return StatusNotFound;
    info.size = files[path].size();
    return StatusSuccess;
  }
  uint32_t MoveItem(const std::wstring& source, const std::wstring& target) override {
    if (files.count(source) == 0 || source == open_) return StatusFailure;
    files[target] = files[source];
    files.erase(source);
    return StatusSuccess;
  }

  uint32_t Seek(uint32_t& id, int64_t& offset) override { return StatusFailure; }
  uint32_t ListFolder(const std::wstring& path, FolderList& list) override { return StatusFailure; }
  void Reserved8() override {}
  uint32_t ApplyFileInfo(const std::wstring& path, const FileInfo& info) override { return StatusSuccess; }
  uint32_t CreateFolder(const std::wstring& path) override { return StatusFailure; }
  uint32_t RemoveFolder(const std::wstring& path) override { return StatusFailure; }
  uint32_t Reserved6() override { return StatusSuccess; }
  uint32_t Reserved7() override { return StatusSuccess; }

private:
  std::wstring open_;
  size_t position_ = 0;
};

class Transfers : public ::testing::Test {
protected:
  test::TempFolder folder;
  hosttest::CapturedOutput console;
  host::HostLog log{console};
  FakeData data;
  const std::wstring remote = L"C$\\data\\file.bin";
  const std::wstring local = folder / L"local.bin";
};

} // namespace

// A put of a new file that does not fit is removed; a replacement that does
// not fit beside the old file leaves the old one as it was; one that fits,
// arriving in short writes, takes its place. A get whose read breaks off
// midway leaves no partial local file.
TEST_F(Transfers, FailedTransfersLeaveTheTargetAsItWas) {
  EXPECT_THROW(CopyFromLocal(data, log, folder / L"absent.bin", remote, 1024, false), HostError);
  EXPECT_TRUE(data.modes.empty()) << "the target was opened, and so emptied, for nothing";

  test::WriteFileBytes(local, test::Pattern(5000, 0));
  data.capacity = 1500;
  try {
    CopyFromLocal(data, log, local, remote, 1024, false);
    FAIL() << "no failure";
  } catch (const HostError& error) {
    EXPECT_NE(error.message().find(L"is full"), std::wstring::npos) << error.message().c_str();
  }
  EXPECT_TRUE(data.files.empty()) << "partial target left behind";

  data.files[remote] = "old";
  data.capacity = 5002;
  EXPECT_THROW(CopyFromLocal(data, log, local, remote, 1024, false), HostError);
  EXPECT_EQ(data.files, (std::map<std::wstring, std::string>{{remote, "old"}}));
  data.capacity = 5003;
  data.writeChunk = 7; // the rest of each short write is handed over again
  data.modes.clear();
  EXPECT_EQ(CopyFromLocal(data, log, local, remote, 1024, /*keepAttributes=*/true).bytes, 5000u);
  EXPECT_EQ(data.files, (std::map<std::wstring, std::string>{{remote, test::Pattern(5000, 0)}}));
  EXPECT_EQ(data.modes, std::vector<uint32_t>{OpenWrite}) << "a replacement is a new file beside the old one";

  data.readFailsAt = 3000;
  EXPECT_THROW(CopyToLocal(data, log, remote, folder / L"back.bin", 1000), HostError);
  EXPECT_FALSE(test::Exists(folder / L"back.bin")) << "partial copy left behind";
}
