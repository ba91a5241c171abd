#include "host/jobs/Progress.h"

#include <algorithm>

#include "host/session/Format.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

constexpr uint64_t kConsoleInterval = 200; // ms: smooth, without drowning a slow console
constexpr uint64_t kPlainInterval = 2000;  // ms: a log or pipe gets a line now and then

uint64_t NowMs() {
  return ::GetTickCount64();
}

} // namespace

ProgressMeter::ProgressMeter(TextOutput& out, uint64_t totalItems, uint64_t totalBytes)
    : out_(out),
      totalItems_(totalItems),
      totalBytes_(totalBytes),
      consoleWidth_(out.ConsoleWidth()),
      started_(NowMs()),
      lastShown_(started_) {}

ProgressMeter::Item::Item(ProgressMeter* meter, const std::wstring& relative, uint64_t bytes)
    : meter_(meter), bytes_(bytes) {
  if (meter_ == nullptr) return;
  const std::lock_guard<std::mutex> guard(meter_->lock_);
  meter_->current_ = relative;
  meter_->Refresh();
}

void ProgressMeter::Item::AddBytes(uint64_t bytes) {
  if (meter_ == nullptr) return;
  // A file that grew since it was counted must not push the total past 100%.
  const uint64_t counted = std::min(bytes, bytes_ - counted_);
  counted_ += counted;
  const std::lock_guard<std::mutex> guard(meter_->lock_);
  meter_->moved_ += bytes;
  meter_->bytesDone_ += counted;
  meter_->Refresh();
}

ProgressMeter::Item::~Item() {
  if (meter_ == nullptr) return;
  const std::lock_guard<std::mutex> guard(meter_->lock_);
  ++meter_->itemsDone_;
  meter_->bytesDone_ += bytes_ - counted_;
}

void ProgressMeter::Finish() {
  const std::lock_guard<std::mutex> guard(lock_);
  out_.ShowStatus(L"");
}

uint64_t ProgressMeter::ItemsDone() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return itemsDone_;
}

double ProgressMeter::Seconds() const {
  return static_cast<double>(NowMs() - started_) / 1000.0;
}

void ProgressMeter::Refresh() {
  const uint64_t now = NowMs();
  if (now - lastShown_ < (consoleWidth_ > 0 ? kConsoleInterval : kPlainInterval)) return;
  lastShown_ = now;
  if (consoleWidth_ > 0) {
    out_.ShowStatus(Text(consoleWidth_));
  } else {
    out_.Write(L"Progress: " + Text(0) + L"\n");
  }
}

std::wstring ProgressMeter::Text(size_t width) const {
  const double seconds = Seconds();
  // Done is what no longer needs doing: files skipped as unchanged, failed
  // or empty count as much as copied ones, by items and by bytes alike.
  const double itemsPart = totalItems_ > 0 ? static_cast<double>(itemsDone_) / totalItems_ : 1.0;
  const double bytesPart = totalBytes_ > 0 ? static_cast<double>(bytesDone_) / totalBytes_ : itemsPart;
  const double done = (itemsPart + bytesPart) / 2;
  const std::wstring left = done > 0 && seconds > 0 ? FormatDuration(seconds * (1 - done) / done) : L"-";
  const std::wstring rate =
      moved_ > 0 || seconds <= 0 ? FormatRate(moved_, seconds)
                                 : std::to_wstring(static_cast<uint64_t>(itemsDone_ / seconds)) + L" items/s";
  const std::wstring text = std::to_wstring(itemsDone_) + L"/" + std::to_wstring(totalItems_) + L" items, " +
                            FormatSize(bytesDone_) + L"/" + FormatSize(totalBytes_) + L", " + rate + L", " + left +
                            L" left, ";
  if (width == 0) return text + current_;
  // One column short of the width: a full line would wrap on some consoles
  // and the next update would land on a new line.
  const size_t room = width > text.size() + 1 ? width - text.size() - 1 : 0;
  if (current_.size() <= room) return text + current_;
  if (room < 4) return text.substr(0, width > 1 ? width - 1 : 0);
  return text + L"..." + current_.substr(current_.size() - (room - 3));
}

} // namespace host
