#pragma once

#include "command.h"

// "pelmora charge" and "pelmora discharge": the runs of the charge and discharge windows from
// the command line, with the same settings, polls, end detection, log file and sidecar (they
// share the windows' Run), one line per poll on standard output.
namespace cli {

// How a run is paced: the windows poll once a second; tests poll faster.
struct RunPace {
    int pollMs = 1000;
};

// charge --current A [--mode N]
Command chargeCommand(RunPace pace = {});
// discharge --current A --cells N
Command dischargeCommand(RunPace pace = {});

} // namespace cli
