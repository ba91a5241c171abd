// Collects what the host writes, for the tests to read.
#pragma once

#include <string>
#include <string_view>

#include "host/session/Output.h"

namespace hosttest {

class CapturedOutput final : public host::TextOutput {
public:
  void Write(std::wstring_view text) override { text_ += text; }
  const std::wstring& text() const { return text_; }

private:
  std::wstring text_;
};

} // namespace hosttest
