#include "commands.h"
#include "dispatcher.h"

namespace cli {

// One line per subcommand.
const QList<Command> &commandTable() {
    static const QList<Command> table{
        statusCommand(),
        eepromCommand(),
        extEepromCommand(),
        flashCommand(),
    };
    return table;
}

} // namespace cli
