// get and put where only a stand-in can make the plug-in fail: a read that
// breaks off midway, a plug-in that takes part of each write, a full disk
// reported as status 7 (the real plug-in on Wine's full drive returns 1,
// which the end-to-end suite meets).
#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/jobs/Transfer.h"
#include "host/session/HostError.h"
#include "host/session/PluginHost.h"
#include "instance/PluginImplementation.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using host::CopyFromLocal;
using host::CopyToLocal;
using host::HostError;

namespace {

using Files = std::map<std::wstring, std::string>;

// The plug-in's own writer over a disk that holds `capacity` bytes of the
// files in `folder`: Write takes what fits, then returns 7. Its reads break
// off once `readFailsAt` bytes were read, and its writes take at most
// `writeChunk` bytes a call.
class FaultyDrive final : public PluginImplementation {
public:
  FaultyDrive(IPluginLog& log, IPluginHost& host, std::wstring folder)
      : PluginImplementation(&log, &host, InstanceWrite), folder_(std::move(folder)) {}
  size_t readFailsAt = std::numeric_limits<size_t>::max(), capacity = std::numeric_limits<size_t>::max();
  uint32_t writeChunk = std::numeric_limits<uint32_t>::max();
  std::vector<uint32_t> modes; // of each Open

  uint32_t Open(const std::wstring& path, uint32_t mode, uint32_t& id) override {
    modes.push_back(mode);
    read_ = 0;
    return PluginImplementation::Open(path, mode, id);
  }
  uint32_t Read(void* buffer, uint32_t& size, const uint32_t& id) override {
    if (read_ >= readFailsAt) {
      size = 0;
      return StatusFailure;
    }
    size = static_cast<uint32_t>(std::min<size_t>(size, readFailsAt - read_));
    const uint32_t status = PluginImplementation::Read(buffer, size, id);
    read_ += size;
    return status;
  }
  uint32_t Write(const void* buffer, uint32_t& size, const uint32_t& id) override {
    size_t used = 0;
    for (const WIN32_FIND_DATAW& file : test::FolderItems(folder_)) used += file.nFileSizeLow;
    const size_t room = capacity - std::min(capacity, used);
    const uint32_t wanted = size;
    size = static_cast<uint32_t>(std::min<size_t>({wanted, writeChunk, room}));
    const uint32_t status = PluginImplementation::Write(buffer, size, id);
    return status == StatusSuccess && size < wanted && size == room ? StatusDiskFull : status;
  }

private:
  const std::wstring folder_;
  size_t read_ = 0;
};

class Transfers : public ::testing::Test {
protected:
  // Each file on the drive, with its bytes.
  Files OnDrive() const {
    Files files;
    for (const WIN32_FIND_DATAW& file : test::FolderItems(drive)) {
      files[file.cFileName] = test::ReadFileBytes(drive + L"\\" + file.cFileName);
    }
    return files;
  }

  test::TempFolder folder;
  hosttest::CapturedOutput console;
  host::HostLog log{console};
  const host::LocationStore locations{folder / L"data"};
  host::PluginHost pluginHost{folder / L"data", false, locations};
  const std::wstring drive = folder / L"drive";
  FaultyDrive data{log, pluginHost, drive};
  const std::wstring remote = test::ToVirtual(drive + L"\\file.bin"), local = folder / L"local.bin";
};

} // namespace

// A put of a new file that does not fit is removed; a replacement that does
// not fit beside the old file leaves the old one as it was; one that fits,
// arriving in short writes, takes its place. A get whose read breaks off
// midway leaves no partial local file.
TEST_F(Transfers, FailedTransfersLeaveTheTargetAsItWas) {
  test::MakeFolder(drive);
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
  EXPECT_TRUE(OnDrive().empty()) << "partial target left behind";

  test::WriteFileBytes(drive + L"\\file.bin", "old");
  data.capacity = 5002;
  EXPECT_THROW(CopyFromLocal(data, log, local, remote, 1024, false), HostError);
  EXPECT_EQ(OnDrive(), (Files{{L"file.bin", "old"}}));
  data.capacity = 5003;
  data.writeChunk = 7; // the rest of each short write is handed over again
  data.modes.clear();
  EXPECT_EQ(CopyFromLocal(data, log, local, remote, 1024, /*keepAttributes=*/true).bytes, 5000u);
  EXPECT_EQ(OnDrive(), (Files{{L"file.bin", test::Pattern(5000, 0)}}));
  EXPECT_EQ(data.modes, std::vector<uint32_t>{OpenWrite}) << "a replacement is a new file beside the old one";

  data.readFailsAt = 3000;
  EXPECT_THROW(CopyToLocal(data, log, remote, folder / L"back.bin", 1000), HostError);
  EXPECT_FALSE(test::Exists(folder / L"back.bin")) << "partial copy left behind";
}
