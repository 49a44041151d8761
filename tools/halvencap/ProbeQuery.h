// One run of the driver's capability query against a device, the way a
// recording server probes a camera before it adds it; shared by `probe`
// and `check`.
#pragma once

#include <cstdint>
#include <string>

#include "DriverModule.h"
#include "Options.h"
#include "ProbeReport.h"

namespace zentavo {
namespace cli {

struct ProbeOutcome {
    enum class End { Completed, Failed, Unavailable, Hung };
    End end = End::Unavailable;
    int32_t code = -1;     // the driver's failure code when Failed
    std::string message;   // the driver's failure text, or why the query could not run
};

// Fills results while the query runs; results must outlive the call only.
ProbeOutcome RunCapabilityQuery(const Options& options, const DriverModule& module, ProbeResults& results);

// The exit code a failed query stands for.
int ProbeExitCode(int32_t failure);

}  // namespace cli
}  // namespace zentavo
