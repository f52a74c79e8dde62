//===- messages.cpp - Keys and captions made from numbers -------------------===//
#include "ui/messages.h"

#include "platform/platform.h"
#include "text/text.h"

namespace qd::messages {

std::string ErrorKey(int errorNumber) { return "Err" + text::Decimal(errorNumber, 2); }

std::string FallbackCaption(int errorNumber, const char* scriptPath) {
  // A long script path is cut where the 260-character buffer ends, never
  // inside a character.
  return platform::CutToFit("Error Code: " + text::Decimal(errorNumber) + " (" +
                            (scriptPath ? scriptPath : "(null)") + ")\n");
}

}  // namespace qd::messages
