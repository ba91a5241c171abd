// The threads of a tree command. The plug-in's instances share no state but
// take calls from one thread at a time, so each worker has instances of its
// own, and a log of its own that explains its failures by its own calls.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/session/HostLog.h"
#include "host/session/LocalFile.h"
#include "host/session/PluginSession.h"
#include "vmlib/SlimLock.h"

namespace host {

// What the workers read the source with: the computer through read
// instances (backup, verify), or storage through write instances (restore),
// as the backup application reaches it.
enum class SourceKind { Computer, Storage };

class Worker {
public:
  Worker(PluginSession& plugin, const HostLog& shared, SourceKind kind, uint32_t bufferSize);

  IBackupDataRead& source() { return reader_ ? *reader_ : *writer_; }
  IBackupDataWrite& target() { return *writer_; }
  const HostLog& log() const { return log_; }
  std::vector<char>& buffer() { return buffer_; }
  HeldFileLook& look() { return look_; }

private:
  HostLog log_; // before the instances, which report to it until released
  PluginPtr<IBackupDataWrite> writer_;
  PluginPtr<IBackupDataRead> reader_;
  std::vector<char> buffer_;
  HeldFileLook look_;
};

// Workers taking jobs from one queue, in the order they were posted.
//
// A file that another program holds is read by the first worker only: the
// plug-in takes a shadow copy of the volume inside the `Open` that meets the
// lock and keeps it for the instance's later locked files, so with every
// worker free to meet one, each would make a snapshot of its own (seconds
// of the service's time each, and on Windows a limited number per volume).
// The other workers look at a job's file before they take it on and hand a
// held one over, where a snapshot can be taken at all: the look is two
// requests to Wine's server, which serves all of them, for every file.
class WorkerPool {
public:
  using Job = std::function<void(Worker&)>;

  // Makes every worker's instances on this thread first, so that a plug-in
  // that cannot make them stops the command before anything is copied
  // (HostError).
  WorkerPool(PluginSession& plugin, const HostLog& log, unsigned threads, SourceKind kind, uint32_t bufferSize);
  // Waits for the jobs already posted.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Waits while the queue is full: the walk stays only a little ahead.
  // `readsFrom` is the virtual path of the file the job reads through the
  // source, when it reads one.
  void Post(Job job, const std::wstring& readsFrom = {});
  // Returns once every job posted so far is done; rethrows the first
  // exception a job let out.
  void Wait();
  size_t Size() const { return workers_.size(); }

private:
  struct Posted {
    Job job;
    std::wstring probe; // the file's Windows path; empty when there is none to look at
  };

  void Serve(size_t index);
  // Runs the job, or hands it to the first worker when its file is held.
  void Take(size_t index, Posted posted);

  std::vector<std::unique_ptr<Worker>> workers_;
  VMLib::SlimLock lock_;
  VMLib::SlimCondition changed_;
  std::deque<Posted> queue_;
  std::deque<Posted> held_; // for the first worker only
  std::map<wchar_t, std::wstring> snapshotDrives_; // drive letter: its Windows form where a look can matter, or empty
  size_t running_ = 0;
  bool closing_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> threads_; // last: they start serving as soon as they exist
};

// " (4 workers)": how many files a tree job handles at once (one
// without a pool), for the line that starts it.
std::wstring WorkersText(const WorkerPool* workers);

} // namespace host
