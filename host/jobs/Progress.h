// Progress of a tree command: on a console one line that updates in place
// (items and bytes done of the total, rate, time left, current item);
// elsewhere a plain line every two seconds. Safe to use from several
// threads at once, each with items of its own.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "host/session/Output.h"

namespace host {

class ProgressMeter {
public:
  // `totalItems` and `totalBytes` come from the counting pass.
  ProgressMeter(TextOutput& out, uint64_t totalItems, uint64_t totalBytes);

  // One item under way, shown as the current one. It counts as done when it
  // is destroyed, whatever became of it (copied, skipped, failed). A null
  // meter makes an item that counts nothing.
  class Item {
  public:
    // `bytes`: what the item will count for once finished.
    Item(ProgressMeter* meter, const std::wstring& relative, uint64_t bytes);
    ~Item();
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;
    // Bytes moved for this item.
    void AddBytes(uint64_t bytes);

  private:
    ProgressMeter* meter_;
    uint64_t bytes_;
    uint64_t counted_ = 0; // of bytes_, so far
  };

  // Removes the status line.
  void Finish();

  double Seconds() const;
  uint64_t ItemsDone() const;

private:
  void Refresh();
  std::wstring Text(size_t width) const;

  TextOutput& out_;
  const uint64_t totalItems_;
  const uint64_t totalBytes_;
  const size_t consoleWidth_;
  const uint64_t started_;
  mutable std::mutex lock_;
  uint64_t lastShown_;
  uint64_t itemsDone_ = 0;
  uint64_t bytesDone_ = 0; // finished items plus what the items under way moved
  uint64_t moved_ = 0;     // bytes actually read or written, for the rate
  std::wstring current_;
};

} // namespace host
