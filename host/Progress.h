// Progress of a tree command: on a console one line that updates in place
// (items and bytes done of the total, rate, time left, current item);
// elsewhere a plain line every two seconds.
#pragma once

#include <cstdint>
#include <string>

#include "host/Output.h"

namespace host {

class ProgressMeter {
public:
  // `totalItems` and `totalBytes` come from the counting pass.
  ProgressMeter(TextOutput& out, uint64_t totalItems, uint64_t totalBytes);

  // `bytes`: what the item will count for once finished.
  void StartItem(const std::wstring& relative, uint64_t bytes);
  // Bytes moved for the current item.
  void AddBytes(uint64_t bytes);
  // The item counts as done whatever became of it (copied, skipped, failed).
  void FinishItem();
  // Removes the status line.
  void Finish();

  double Seconds() const;
  uint64_t ItemsDone() const { return itemsDone_; }

private:
  void Refresh();
  std::wstring Text(size_t width) const;

  TextOutput& out_;
  const uint64_t totalItems_;
  const uint64_t totalBytes_;
  const size_t consoleWidth_;
  const uint64_t started_;
  uint64_t lastShown_;
  uint64_t itemsDone_ = 0;
  uint64_t bytesDone_ = 0;   // finished items plus the current one's progress
  uint64_t moved_ = 0;       // bytes actually read or written, for the rate
  uint64_t itemStart_ = 0;   // bytesDone_ when the current item started
  uint64_t itemBytes_ = 0;
  std::wstring current_;
};

} // namespace host
