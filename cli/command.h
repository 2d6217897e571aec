#pragma once

#include <QString>
#include <QTextStream>
#include <functional>

class QCommandLineParser;

namespace chlink {
class ChargerLink;
}
namespace serialio {
class ComMap;
}

// pelmora on the command line: "pelmora SUBCOMMAND [options]". Each subcommand is one
// Command; the dispatcher reads the options every subcommand shares (--com N=DEVICE,
// --port DEVICE, --demo, --help), opens the link when the subcommand needs the charger,
// and hands it over.
namespace cli {

// Exit codes, the same for every subcommand.
enum Exit : int {
    Ok = 0,
    Failure = 1,       // anything not listed below
    Usage = 2,         // a wrong option or argument
    NoCharger = 3,     // the port cannot be opened, or no charger answers the handshake
    TimedOut = 4,      // the charger stopped answering during the work
    BadFile = 5,       // a file that cannot be read, or is not what it must be
    Refused = 6,       // a value out of range, or an operation the charger refused
    Interrupted = 130, // Ctrl-C (outputs switched off on the way out)
};

// What a subcommand runs with.
struct Bench {
    chlink::ChargerLink *link = nullptr;     // open with the handshake done; null when not needed
    QString device;                          // the serial device behind the link
    QTextStream &out;                        // standard output
    QTextStream &err;                        // standard error
    std::function<bool()> interrupted;       // true once Ctrl-C was pressed
    const serialio::ComMap *ports = nullptr; // COM numbers and their devices, always set
};

struct Command {
    QString name;    // "charge"
    QString summary; // one line for "pelmora --help"
    bool needsCharger = true;
    // Adds the subcommand's own options and operands to the parser (the shared ones are
    // already there).
    std::function<void(QCommandLineParser &)> addOptions;
    // Optional: runs once the options parsed, before the charger is connected (Bench::link
    // null): checks the operands and reads the files, so that a wrong value or a bad file is
    // refused with nothing sent. Returns Ok to go on, or an Exit code.
    std::function<int(Bench &, const QCommandLineParser &)> check;
    // Runs once the options parsed (and the charger connected); returns an Exit code.
    std::function<int(Bench &, const QCommandLineParser &)> run;
};

} // namespace cli
