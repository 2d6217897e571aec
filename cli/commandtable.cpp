#include "commands.h"
#include "dispatcher.h"
#include "runcommands.h"

namespace cli {

// One line per subcommand.
const QList<Command> &commandTable() {
    static const QList<Command> table{
        portsCommand(),  statusCommand(),    eepromCommand(), extEepromCommand(),
        chargeCommand(), dischargeCommand(), flashCommand(),
    };
    return table;
}

} // namespace cli
