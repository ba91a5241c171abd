#include "host/session/HostLog.h"

#include <algorithm>

#include "contract/LogTexts.h"
#include "host/session/Format.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"

namespace host {

std::wstring LevelName(uint32_t level) {
  switch (level) {
  case Info: return L"INFO";
  case Warning: return L"WARNING";
  case Error: return L"ERROR";
  case Critical: return L"CRITICAL";
  default: return L"LEVEL " + std::to_wstring(level);
  }
}

HostLog::HostLog(TextOutput& console) : console_(&console) {}

HostLog::HostLog(const HostLog* shared) : shared_(shared) {}

TextOutput& HostLog::SetConsole(TextOutput& console) {
  const std::lock_guard<std::mutex> guard(outputLock_);
  TextOutput& before = *console_;
  console_ = &console;
  return before;
}

void HostLog::OpenFile(const std::wstring& path) {
  file_ = OpenLocalForAppending(path);
  filePath_ = path;
}

size_t HostLog::Bucket(uint32_t level) {
  return std::min<size_t>(level, Critical);
}

uint32_t HostLog::Log(uint32_t level, const wchar_t* text) {
  try {
    const std::wstring message = text != nullptr ? text : L"";
    const size_t bucket = Bucket(level);
    ++messageCount_;
    ++counts_[bucket];
    last_[bucket] = message;
    lastNumber_[bucket] = messageCount_;
    if (LogText::IsLockedFileNotice(level, message)) ++shadowCopyNotices_;
    Emit(LevelName(level) + L": " + message + L"\n", level, /*show=*/true);
  } catch (...) {
  }
  return 0;
}

void HostLog::Note(const std::wstring& text, bool onConsole) const noexcept {
  try {
    // Critical: shown whatever the console's level.
    Emit(text + L"\n", Critical, onConsole);
  } catch (...) {
  }
}

void HostLog::Emit(const std::wstring& line, uint32_t level, bool show) const {
  if (shared_ != nullptr) {
    shared_->Emit(line, level, show);
    return;
  }
  const std::lock_guard<std::mutex> guard(outputLock_);
  if (show && level >= consoleLevel_) console_->Write(line);
  AppendToFile(line);
}

void HostLog::AppendToFile(const std::wstring& line) const {
  if (!file_ || fileFailed_) return;
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  const std::string bytes = ToUtf8(FormatSystemTime(now) + L" " + line);
  try {
    WriteLocal(file_.get(), filePath_, bytes.data(), bytes.size());
  } catch (const HostError& failure) {
    fileFailed_ = true;
    console_->Write(L"WARNING: the log file is incomplete from here on: " + failure.message() + L"\n");
  }
}

uint32_t HostLog::Count(uint32_t level) const {
  return counts_[Bucket(level)];
}

const std::wstring& HostLog::LastMessage(uint32_t level) const {
  return last_[Bucket(level)];
}

std::wstring HostLog::LastProblemSince(uint64_t mark, uint32_t minimum) const {
  for (int bucket = Critical; bucket >= static_cast<int>(Bucket(minimum)); --bucket) {
    if (lastNumber_[bucket] > mark) return last_[bucket];
  }
  return {};
}

HostError PluginFailure(const HostLog& log, uint64_t mark, const std::wstring& what, uint32_t status) {
  std::wstring text = what + L" (status " + std::to_wstring(status) + L")";
  const std::wstring reason = log.LastProblemSince(mark);
  if (!reason.empty()) text += L": " + reason;
  return HostError(text);
}

} // namespace host
