#include "host/Commands.h"
#include "host/TreeCopy.h"
#include "host/TreeVerify.h"

namespace host {

void ReportSummary(const CommandContext& context, const std::wstring& summary) {
  context.out.Write(summary);
  context.log.Note(summary);
}

int RunTreeCommand(const CommandContext& context) {
  const Options& options = context.options;
  const std::wstring& from = options.operands[0];
  const std::wstring& to = options.operands[1];
  // Item failures come back in the summary with the plug-in's words; on the
  // console, notices would only break up the progress line.
  context.log.SetConsoleLevel(Warning);
  if (options.command == Command::Verify) {
    const VerifyReport report = VerifyTrees(context.plugin.Reader(), context.plugin.Writer(), context.log,
                                            context.out, from, to, options.bufferSize);
    ReportSummary(context, VerifySummary(report));
    return report.differences.empty() ? 0 : 1;
  }
  const CopySettings settings{options.bufferSize, options.incremental, options.dryRun};
  const bool backup = options.command == Command::Backup;
  // A backup reads the computer through a read instance, which can fall back
  // to shadow copies; a restore reads the backup from storage, which the
  // backup application always reaches through write instances.
  IBackupDataRead& source = backup ? context.plugin.Reader() : context.plugin.Writer();
  const CopyReport report = CopyTree(source, context.plugin.Writer(), context.log, context.out, from, to, settings);
  ReportSummary(context, CopySummary(report, backup ? L"Backup" : L"Restore", settings));
  return report.complete() ? 0 : 1;
}

} // namespace host
