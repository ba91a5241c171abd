// Collects what the host writes, for the tests to read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/cli/Commands.h"
#include "host/session/Output.h"

namespace hosttest {

class CapturedOutput final : public host::TextOutput {
public:
  void Write(std::wstring_view text) override { text_ += text; }
  const std::wstring& text() const { return text_; }

private:
  std::wstring text_;
};

struct HostRun {
  int exitCode;
  std::wstring output; // standard output, then standard error
};

// The host's command line run in this process.
inline HostRun Run(const std::vector<std::wstring>& args) {
  CapturedOutput out, err;
  const int exitCode = host::Run(args, out, err);
  return {exitCode, out.text() + err.text()};
}

} // namespace hosttest
