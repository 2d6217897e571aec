#pragma once

#include "bootport.h"

#include <QString>
#include <QStringList>
#include <functional>

class QTextStream;

namespace loader {

class BootLink;

// Exit codes of the command line.
enum CliExit {
    ExitOk = 0,           // "Upload Successfull"
    ExitUsage = 1,        // bad arguments
    ExitBadFile = 2,      // the HEX file is missing, not a regular file, unreadable or invalid
    ExitPort = 3,         // the port cannot be opened, or broke during the run
    ExitNoBootLoader = 4, // no boot loader answer within the wait limit
    ExitAbandoned = 5,    // five failed answers in a row on one block
    ExitTimeout = 6,      // a block's answer never came
    ExitCancelled = 7,    // not confirmed (no --yes and no "y" on the terminal)
    ExitInterrupted = 8,  // Ctrl-C or SIGTERM
};

struct CliOptions {
    enum class Mode { Window, Upload, Help, Version, Error } mode = Mode::Window;
    QString device;       // --port DEVICE
    int com = 0;          // --com N
    QStringList mappings; // --com N=DEVICE
    QString file;         // --file
    bool yes = false;
    int waitSeconds = 30;
    QString error; // Mode::Error: why
};

CliOptions parseCommandLine(const QStringList &arguments);
QString helpText();

// The handshake and upload without a window, progress on `out`, failures on `err`.
// confirm(question) asks the user unless --yes was given. beforePort() runs once the file is
// loaded and the upload confirmed, just before the port opens: from there on the run ends
// through the link (BootLink::stop), not at once.
int runUpload(BootLink &link, const CliOptions &options, QTextStream &out, QTextStream &err,
              const std::function<bool(const QString &)> &confirm,
              const std::function<void()> &beforePort = {});

} // namespace loader
