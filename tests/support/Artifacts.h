// What the driver delivered, written where the test command has an
// independent decoder check it (HALVENCAP_ARTIFACTS), and the time helpers
// the end-to-end tests share.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/PlatformTypes.h"
#include "support/TestFrameFactory.h"

namespace halvencap_test {

// Frames back to back in delivery order; nothing when the variable is unset.
void SaveArtifact(const char* name, const std::vector<FrameRecord>& frames);

// File time (100 ns units) of a calendar time.
int64_t FileTimeOf(const SYSTEMTIME& t);
int64_t FileTimeNow();

}  // namespace halvencap_test
