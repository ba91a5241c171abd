// Failures the host reports to the person at the console, in one line.
#pragma once

#include <exception>
#include <string>

namespace host {

// Ends the command with exit code 1; message() is the line shown.
class HostError : public std::exception {
public:
  explicit HostError(std::wstring message);
  const std::wstring& message() const noexcept { return message_; }
  // The message in UTF-8.
  const char* what() const noexcept override { return utf8_.c_str(); }

private:
  std::wstring message_;
  std::string utf8_;
};

// A command line that cannot be run: shown with the usage text, exit code 2.
class UsageError : public HostError {
public:
  using HostError::HostError;
};

} // namespace host
