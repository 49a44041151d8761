// halvencap: records video from and drives the digital I/O of an IP camera
// through the Halvencap driver library, as a recording server would.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "CrashGuard.h"
#include "ExitCodes.h"
#include "Options.h"
#include "StopSignal.h"
#include "VersionCommand.h"

int main(int argc, char** argv) {
    using namespace zentavo::cli;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");

    const ParseOutcome parsed = ParseCommandLine(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "halvencap: error: %s\n\n%s", parsed.error.c_str(), UsageText().c_str());
        return EXIT_BAD_ARGUMENTS;
    }
    const Options& options = parsed.options;
    if (options.command == Command::Help) {
        std::fputs(UsageText().c_str(), stdout);
        return EXIT_OK;
    }
    if (options.command == Command::Version) return RunVersion(options);

    InstallCrashGuard();
    InstallStopHandler();
    Console console(stdout, stderr, StdoutIsConsole());
    switch (options.command) {
        case Command::Record: return RunRecord(options, console);
        case Command::Io: return RunIo(options, console);
        case Command::Probe: return RunProbe(options, console);
        case Command::Check: return RunCheck(options, console);
        default: return EXIT_BAD_ARGUMENTS;
    }
}
