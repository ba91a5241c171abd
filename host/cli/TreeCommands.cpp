#include <optional>

#include "host/cli/Commands.h"
#include "host/cli/Summary.h"

namespace host {

void ReportSummary(const CommandContext& context, const std::wstring& summary) {
  context.out.Write(summary);
  context.log.Note(summary);
}

namespace {

// While workers run, the log and the progress line reach the console
// through one lock, each line whole.
class SharedConsole {
public:
  SharedConsole(HostLog& log, TextOutput& out) : log_(log), out_(out), before_(log.SetConsole(out_)) {}
  ~SharedConsole() { log_.SetConsole(before_); }
  SharedConsole(const SharedConsole&) = delete;
  SharedConsole& operator=(const SharedConsole&) = delete;
  TextOutput& out() { return out_; }

private:
  HostLog& log_;
  SerializedOutput out_;
  TextOutput& before_;
};

} // namespace

int RunTreeCommand(const CommandContext& context) {
  const Options& options = context.options;
  const std::wstring& from = options.operands[0];
  const std::wstring& to = options.operands[1];
  // Item failures come back in the summary with the plug-in's words; on the
  // console, notices would only break up the progress line.
  context.log.SetConsoleLevel(Warning);
  const bool backup = options.command == Command::Backup;
  // A backup reads the computer through a read instance, which can fall back
  // to shadow copies; a restore reads the backup from storage, which the
  // backup application always reaches through write instances.
  IBackupDataRead& source = options.command == Command::Restore ? context.plugin.Writer() : context.plugin.Reader();
  // A dry run copies nothing, so there is nothing to share out.
  const unsigned threads = options.dryRun ? 1 : options.threads;
  SharedConsole console(context.log, context.out);
  std::optional<WorkerPool> workers;
  if (threads > 1) {
    workers.emplace(context.plugin, context.log, threads,
                    options.command == Command::Restore ? SourceKind::Storage : SourceKind::Computer,
                    options.bufferSize);
  }
  WorkerPool* pool = workers ? &*workers : nullptr;
  if (options.command == Command::Verify) {
    const VerifyReport report =
        VerifyTrees(source, context.plugin.Writer(), context.log, console.out(), from, to, options.bufferSize,
                    options.copyAcl, pool);
    ReportSummary(context, VerifySummary(report));
    return report.differences.empty() ? 0 : 1;
  }
  const CopySettings settings{options.bufferSize, options.incremental, options.dryRun};
  const CopyReport report =
      CopyTree(source, context.plugin.Writer(), context.log, console.out(), from, to, settings, pool);
  ReportSummary(context, CopySummary(report, backup ? L"Backup" : L"Restore", settings));
  return report.complete() ? 0 : 1;
}

} // namespace host
