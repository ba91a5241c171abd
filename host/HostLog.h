// The host's log sink: shows every plug-in message with its level, optionally
// appends it to a log file with a timestamp, and remembers per level how many
// came and the last text, so a failed command can name the plug-in's reason.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/HostError.h"
#include "host/Output.h"
#include "plugin/IPluginCallbacks.h"
#include "plugin/PluginTypes.h"
#include "vmlib/ScopedHandle.h"

namespace host {

// "INFO", "WARNING", "ERROR", "CRITICAL"; "LEVEL n" for any other value.
std::wstring LevelName(uint32_t level);

// The plug-in's notice that a locked file is read through a shadow copy.
bool IsShadowCopyNotice(uint32_t level, std::wstring_view text);

class HostLog final : public IPluginLog {
public:
  explicit HostLog(TextOutput& console);

  // Throws HostError when the file cannot be opened.
  void OpenFile(const std::wstring& path);

  // Never throws: an exception must not unwind through the plug-in's frames.
  uint32_t Log(uint32_t level, const wchar_t* text) override;

  // Levels above Critical are counted as Critical.
  uint32_t Count(uint32_t level) const;
  const std::wstring& LastMessage(uint32_t level) const;
  // Messages received so far; a mark for LastProblemSince.
  uint64_t MessageCount() const { return messageCount_; }
  // The last Warning-or-worse message after `mark`, of the most severe level
  // that came; empty when none did.
  std::wstring LastProblemSince(uint64_t mark) const;
  uint32_t ShadowCopyNotices() const { return shadowCopyNotices_; }

private:
  static constexpr size_t kLevels = Critical + 1;
  static size_t Bucket(uint32_t level);

  TextOutput& console_;
  VMLib::UniqueFile file_;
  std::wstring filePath_;
  std::array<uint32_t, kLevels> counts_{};
  std::array<std::wstring, kLevels> last_;
  std::array<uint64_t, kLevels> lastNumber_{};
  uint64_t messageCount_ = 0;
  uint32_t shadowCopyNotices_ = 0;
};

// "WHAT (status N)", followed by the plug-in's own reason when it gave one
// after `mark`.
HostError PluginFailure(const HostLog& log, uint64_t mark, const std::wstring& what, uint32_t status);

} // namespace host
