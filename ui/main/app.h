#pragma once

#include "cli/linksetup.h"

#include <QStringList>
#include <memory>

class Main;

namespace winkit {
class WindowRegistry;
}

// pelmora's command line, read before any window or display is needed.
struct PelmoraOptions {
    enum class Action { Run, Help, Version, Error } action = Action::Run;
    QString message;       // Help, Version: the text to print; Error: what is wrong
    cli::LinkOptions link; // --com, --demo, --demo-speed
    bool view = false;     // --view: the log viewer instead of the main window
    QStringList viewFiles; // the logs it opens
};
PelmoraOptions parseOptions(const QStringList &arguments);

// pelmora put together: the port map from the command line and settings, the link with
// its port factory (real ports, or the in-process virtual charger for --demo), and the
// main window.
struct PelmoraApp {
    cli::LinkSetup linkSetup; // built as for the command line
    std::unique_ptr<Main> main;

    // Sets the program up from its options; false with a message on bad ones (a port
    // mapping the port map refuses).
    bool setUp(const PelmoraOptions &options, QString *error);
    ~PelmoraApp();
};

// Every window of the program in the main window's registry, each subsystem registering
// its own (a later registration of an id replaces an earlier one).
void registerWindows(winkit::WindowRegistry &registry);
