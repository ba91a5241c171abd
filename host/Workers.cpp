#include "host/Workers.h"

#include <utility>

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
  for (const std::unique_ptr<Worker>& worker : workers_) {
    threads_.emplace_back([this, &worker] { Serve(*worker); });
  }
}

WorkerPool::~WorkerPool() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Post(Job job) {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return queue_.size() < kQueuedPerWorker * workers_.size(); });
  queue_.push_back(std::move(job));
  guard.unlock();
  changed_.notify_all();
}

void WorkerPool::Wait() {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return queue_.empty() && running_ == 0; });
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void WorkerPool::Serve(Worker& worker) {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    guard.unlock();
    changed_.notify_all();
    try {
      job(worker);
    } catch (...) {
      const std::lock_guard<std::mutex> failed(lock_);
      if (!failure_) failure_ = std::current_exception();
    }
    guard.lock();
    --running_;
    changed_.notify_all();
  }
}

} // namespace host
