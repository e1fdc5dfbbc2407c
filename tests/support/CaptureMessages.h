#pragma once

#include "common/ScopedMessageCapture.h"

namespace sonrigo::test {

// Captures every message shown while it lives, then puts the previous sink back.
using CaptureMessages = ScopedMessageCapture;

}  // namespace sonrigo::test
