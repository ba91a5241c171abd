// What a tree job finds, reported in the order of its walk whichever thread
// found it: the walk gives each finding its place as it meets the item, and
// a worker fills a place it was given whenever it gets there.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace host {

template <typename T>
class WalkOrdered {
public:
  // The next place in the walk; on the walk's thread only.
  uint64_t Reserve() { return next_++; }
  // A finding at the next place; on the walk's thread only.
  void Add(T item) { Record(Reserve(), std::move(item)); }
  // A finding at a place reserved earlier; from any thread.
  void Record(uint64_t place, T item) {
    const std::lock_guard<std::mutex> guard(lock_);
    found_.emplace_back(place, std::move(item));
  }
  // Every finding so far, in the order of the walk; once no thread records
  // any more.
  std::vector<T> Take() {
    std::sort(found_.begin(), found_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<T> sorted;
    for (auto& [place, item] : found_) sorted.push_back(std::move(item));
    found_.clear();
    return sorted;
  }

private:
  uint64_t next_ = 0;
  std::mutex lock_;
  std::vector<std::pair<uint64_t, T>> found_;
};

} // namespace host
