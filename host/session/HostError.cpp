#include "host/session/HostError.h"

#include <utility>

#include "host/session/Text.h"

namespace host {

HostError::HostError(std::wstring message) : message_(std::move(message)), utf8_(ToUtf8(message_)) {}

} // namespace host
