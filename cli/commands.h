#pragma once

#include "command.h"

// The subcommands written in this folder.
namespace cli {

Command statusCommand();
Command eepromCommand();    // eeprom save|load --controller master|slave FILE
Command extEepromCommand(); // ext-eeprom save|load --memory 1|2 FILE
Command flashCommand();     // flash master|slave FILE
Command portsCommand();     // ports

} // namespace cli
