#include "host/jobs/Workers.h"

#include <mutex>
#include <utility>

#include "host/session/LocalFile.h"

namespace host {

namespace {

// Enough for every worker to find its next job at once; a walk further
// ahead would only hold more memory.
constexpr size_t kQueuedPerWorker = 8;

} // namespace

Worker::Worker(PluginSession& plugin, const HostLog& shared, SourceKind kind, uint32_t bufferSize)
    : log_(&shared), writer_(plugin.NewWriter(log_)), buffer_(bufferSize) {
  if (kind == SourceKind::Computer) reader_ = plugin.NewReader(log_);
}

WorkerPool::WorkerPool(PluginSession& plugin, const HostLog& log, unsigned threads, SourceKind kind,
                       uint32_t bufferSize) {
  for (unsigned i = 0; i < threads; ++i) workers_.push_back(std::make_unique<Worker>(plugin, log, kind, bufferSize));
  for (size_t index = 0; index < workers_.size(); ++index) {
    threads_.emplace_back([this, index] { Serve(index); });
  }
}

WorkerPool::~WorkerPool() {
  {
    const std::lock_guard<VMLib::SlimLock> guard(lock_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Post(Job job, const std::wstring& readsFrom) {
  // With one worker there is no one to hand a held file to. Only the
  // walk's thread posts, so the drives need no lock.
  // Each drive is mapped once for the whole job: the look is only a hint,
  // and a drive mapped anew meanwhile at worst leaves a held file to a
  // worker that reads it from a snapshot of its own.
  std::wstring probe;
  if (workers_.size() > 1 && readsFrom.size() > 2) {
    const auto known = snapshotDrives_.try_emplace(readsFrom[0]);
    if (known.second && ShadowCopiesPossibleOn(readsFrom)) known.first->second = LocalDriveOf(readsFrom[0]);
    if (!known.first->second.empty()) probe = known.first->second + readsFrom.substr(2);
  }
  Posted posted{std::move(job), std::move(probe)};
  std::unique_lock<VMLib::SlimLock> guard(lock_);
  changed_.wait(guard, [this] { return queue_.size() < kQueuedPerWorker * workers_.size(); });
  queue_.push_back(std::move(posted));
  guard.unlock();
  changed_.notify_all();
}

void WorkerPool::Wait() {
  std::unique_lock<VMLib::SlimLock> guard(lock_);
  changed_.wait(guard, [this] { return queue_.empty() && held_.empty() && running_ == 0; });
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void WorkerPool::Serve(size_t index) {
  std::deque<Posted>* const mine = index == 0 ? &held_ : nullptr;
  std::unique_lock<VMLib::SlimLock> guard(lock_);
  for (;;) {
    // A closing pool still waits for the running jobs, which may hand the
    // first worker a held file.
    changed_.wait(guard, [this, mine] {
      return !queue_.empty() || (mine != nullptr && !mine->empty()) || (closing_ && running_ == 0);
    });
    std::deque<Posted>& from = mine != nullptr && !mine->empty() ? *mine : queue_;
    if (from.empty()) return;
    Posted posted = std::move(from.front());
    from.pop_front();
    ++running_;
    guard.unlock();
    changed_.notify_all();
    Take(index, std::move(posted));
    guard.lock();
    --running_;
    changed_.notify_all();
  }
}

void WorkerPool::Take(size_t index, Posted posted) {
  if (index != 0 && !posted.probe.empty() && workers_[index]->look().HeldByAnotherProgram(posted.probe)) {
    const std::lock_guard<VMLib::SlimLock> guard(lock_);
    held_.push_back(std::move(posted));
    return;
  }
  try {
    posted.job(*workers_[index]);
  } catch (...) {
    const std::lock_guard<VMLib::SlimLock> guard(lock_);
    if (!failure_) failure_ = std::current_exception();
  }
}

std::wstring WorkersText(const WorkerPool* workers) {
  const size_t count = workers != nullptr ? workers->Size() : 1;
  return L" (" + std::to_wstring(count) + (count == 1 ? L" worker)" : L" workers)");
}

} // namespace host
