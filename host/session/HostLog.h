// The host's log sink: shows plug-in messages with their level (all of them,
// or those from a chosen level up), appends every one to the log file with a
// timestamp when there is one, and remembers per level how many came and the
// last text, so a failed command can name the plug-in's reason.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "host/session/HostError.h"
#include "host/session/Output.h"
#include "contract/IPluginCallbacks.h"
#include "contract/PluginTypes.h"
#include "vmlib/ScopedHandle.h"

namespace host {

// "INFO", "WARNING", "ERROR", "CRITICAL"; "LEVEL n" for any other value.
std::wstring LevelName(uint32_t level);

class HostLog final : public IPluginLog {
public:
  explicit HostLog(TextOutput& console);
  // The log of one worker thread's instances: counts and remembers only
  // their messages, so that a failure is explained by what that thread's own
  // calls said, and shows and files every line through `shared`, whole.
  explicit HostLog(const HostLog* shared);
  HostLog(const HostLog&) = delete;
  HostLog& operator=(const HostLog&) = delete;

  // Where the messages are shown from now on; the previous one is returned.
  TextOutput& SetConsole(TextOutput& console);

  // Throws HostError when the file cannot be opened.
  void OpenFile(const std::wstring& path);
  // Messages below `level` go to the log file only (all are shown by default).
  void SetConsoleLevel(uint32_t level) { consoleLevel_ = level; }
  // The host's own lines, timestamped, into the log file; never throws.
  // `onConsole`: shown too, whatever the console's level (a line that
  // explains a plug-in message shown there).
  void Note(const std::wstring& text, bool onConsole = false) const noexcept;

  // Never throws: an exception must not unwind through the plug-in's frames.
  // A log file that cannot be written is a warning on the console, once.
  uint32_t Log(uint32_t level, const wchar_t* text) override;

  // Levels above Critical are counted as Critical.
  uint32_t Count(uint32_t level) const;
  const std::wstring& LastMessage(uint32_t level) const;
  // Messages received so far; a mark for LastProblemSince.
  uint64_t MessageCount() const { return messageCount_; }
  // The last message of `minimum` level or worse after `mark`, of the most
  // severe level that came; empty when none did.
  std::wstring LastProblemSince(uint64_t mark, uint32_t minimum = Warning) const;
  uint32_t ShadowCopyNotices() const { return shadowCopyNotices_; }
  // A write to the log file failed (a full disk, say): the console was told
  // once, and the command must not end as if all were well.
  bool FileFailed() const { return fileFailed_; }

private:
  static constexpr size_t kLevels = Critical + 1;
  static size_t Bucket(uint32_t level);
  // Files `line` and, when `show` and its level is shown, shows it; the
  // shared log does both for its workers' logs.
  void Emit(const std::wstring& line, uint32_t level, bool show) const;
  void AppendToFile(const std::wstring& line) const;

  const HostLog* shared_ = nullptr;
  TextOutput* console_ = nullptr;
  mutable std::mutex outputLock_;
  VMLib::UniqueFile file_;
  std::wstring filePath_;
  std::array<uint32_t, kLevels> counts_{};
  std::array<std::wstring, kLevels> last_;
  std::array<uint64_t, kLevels> lastNumber_{};
  uint64_t messageCount_ = 0;
  uint32_t shadowCopyNotices_ = 0;
  uint32_t consoleLevel_ = Info;
  mutable bool fileFailed_ = false;
};

// "WHAT (status N)", followed by the plug-in's own reason when it gave one
// after `mark`.
HostError PluginFailure(const HostLog& log, uint64_t mark, const std::wstring& what, uint32_t status);

} // namespace host
