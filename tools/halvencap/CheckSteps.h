// The steps of `check` that run the driver the way a recording server does
// with a new camera: a video channel in one format, and the digital I/O.
// Each fills its part of the report, its figures and the driver's lines.
#pragma once

#include <string>

#include "CheckReport.h"
#include "Console.h"
#include "DriverModule.h"
#include "Options.h"

namespace zentavo {
namespace cli {

// A stream silent this long is one the driver itself calls lost.
constexpr double CHECK_MAX_GAP_MS = 7500;

// Records options.seconds of one format into sampleDir, measuring it.
void CheckVideo(const Options& options, VideoFormat format, const DriverModule& module, Console& console,
                const std::string& sampleDir, CheckStep& step);

// Switches the first output on and off again (when there is one) and reads
// every input.
void CheckIo(const Options& options, const DriverModule& module, Console& console, CheckStep& step);

}  // namespace cli
}  // namespace zentavo
