//===- messages.cpp - Keys and captions made from numbers -------------------===//
#include "ui/messages.h"

#include <cstdio>

#include "platform/platform.h"
#include "text/text.h"

namespace qd::messages {

std::string ErrorKey(int errorNumber) { return "Err" + text::Decimal(errorNumber, 2); }

std::string FallbackCaption(int errorNumber, const char* scriptPath) {
  // snprintf cuts a caption that would not fit its 260-character buffer.
  char caption[platform::TextCapacity];
  std::snprintf(caption, sizeof caption, "Error Code: %i (%s)\n", errorNumber,
                scriptPath ? scriptPath : "(null)");
  return caption;
}

}  // namespace qd::messages
