// `halvencap --version`: the program's own version and that of the driver
// library it would load, so an integrator can tell which pair runs.
#pragma once

#include <string>

#include "Options.h"

namespace zentavo {
namespace cli {

// "MAJOR.MINOR.PATCH.BUILD" from the version resource of a file on disk.
bool ReadFileVersion(const std::string& path, std::string& version, std::string& error);

int RunVersion(const Options& options);

}  // namespace cli
}  // namespace zentavo
