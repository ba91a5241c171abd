#include "tests/host/FakeData.h"

#include <algorithm>
#include <cstring>

namespace hosttest {

uint32_t FakeData::Open(const std::wstring& path, uint32_t mode, uint32_t& id) {
  calls.push_back(L"Open " + path + L" " + std::to_wstring(mode));
  id = 0;
  if (mode == OpenRead) {
    if (locked) log_.Log(Info, (L"File '" + path + L"' is locked. Trying to open file with VSS support.").c_str());
    if (files.count(path) == 0) {
      log_.Log(Warning, (L"Cannot open file '" + path + L"'").c_str());
      return StatusFailure;
    }
  } else {
    files[path].clear();
  }
  openPath_ = path;
  position_ = 0;
  id = 1;
  return StatusSuccess;
}

uint32_t FakeData::Read(void* buffer, uint32_t& size, const uint32_t& id) {
  const std::string& contents = files.at(openPath_);
  if (position_ >= readFailsAt) {
    size = 0;
    log_.Log(Error, (L"Error occurred while reading the file '" + openPath_ + L"'").c_str());
    return StatusFailure;
  }
  size = static_cast<uint32_t>(std::min<size_t>({size, contents.size() - position_, readFailsAt - position_}));
  std::memcpy(buffer, contents.data() + position_, size);
  position_ += size;
  return size == 0 ? StatusEndOfData : StatusSuccess;
}

uint32_t FakeData::Seek(uint32_t& id, int64_t& offset) {
  position_ = static_cast<size_t>(offset);
  return StatusSuccess;
}

uint32_t FakeData::Close(uint32_t& id) {
  calls.push_back(L"Close");
  return StatusSuccess;
}

uint32_t FakeData::QueryFileInfo(const std::wstring& path, FileInfo& info) {
  const auto found = infos.find(path);
  if (found == infos.end()) return StatusNotFound;
  info = found->second;
  return StatusSuccess;
}

uint32_t FakeData::ListFolder(const std::wstring& path, FolderList& list) {
  const auto found = folders.find(path);
  if (found == folders.end()) return StatusNotFound;
  list.insert(list.end(), found->second.begin(), found->second.end());
  return StatusSuccess;
}

uint32_t FakeData::Write(const void* buffer, uint32_t& size, const uint32_t& id) {
  std::string& contents = files.at(openPath_);
  const size_t room = capacity - std::min(capacity, contents.size());
  const uint32_t wanted = size;
  size = static_cast<uint32_t>(std::min<size_t>({wanted, writeChunk, room}));
  contents.append(static_cast<const char*>(buffer), size);
  return size < wanted && size == room ? StatusDiskFull : StatusSuccess;
}

uint32_t FakeData::ApplyFileInfo(const std::wstring& path, const FileInfo& info) {
  return Change(L"ApplyFileInfo " + path);
}

uint32_t FakeData::CreateFolder(const std::wstring& path) {
  return Change(L"CreateFolder " + path);
}

uint32_t FakeData::RemoveFolder(const std::wstring& path) {
  return Change(L"RemoveFolder " + path);
}

uint32_t FakeData::RemoveFile(const std::wstring& path) {
  calls.push_back(L"RemoveFile " + path);
  files.erase(path);
  return StatusSuccess;
}

uint32_t FakeData::MoveItem(const std::wstring& source, const std::wstring& target) {
  return Change(L"MoveItem " + source + L" " + target);
}

uint32_t FakeData::Change(const std::wstring& call) {
  calls.push_back(call);
  if (changeStatus != StatusSuccess) log_.Log(Error, (L"Cannot do " + call).c_str());
  return changeStatus;
}

} // namespace hosttest
