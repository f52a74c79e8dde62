//===- messages.cpp - Keys and captions made from numbers -------------------===//
#include "ui/messages.h"

#include "platform/platform.h"
#include "text/text.h"

namespace qd::messages {

std::string ErrorKey(int errorNumber) { return "Err" + text::Decimal(errorNumber, 2); }

std::string FallbackCaption(int errorNumber, std::optional<std::string_view> scriptPath) {
  // A long script path is cut where the 260-character buffer ends, never
  // inside a character; a path through a handle is shown as people know it.
  const std::string shown = scriptPath ? platform::ShownPath(*scriptPath) : std::string("(null)");
  return platform::CutToFit("Error Code: " + text::Decimal(errorNumber) + " (" + shown + ")\n");
}

}  // namespace qd::messages
