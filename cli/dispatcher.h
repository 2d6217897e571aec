#pragma once

#include "command.h"

#include <QList>
#include <QStringList>

// "pelmora SUBCOMMAND [options]": finds the subcommand, reads the options every subcommand
// shares and its own, builds the link as the windows do (port map, --demo charger),
// connects when the subcommand needs the charger, and runs it.
namespace cli {

// Every subcommand, in the order "pelmora --help" lists them (commandtable.cpp).
const QList<Command> &commandTable();

// True when `name` (pelmora's first argument) is a subcommand.
bool isSubcommand(const QString &name);

// The subcommands and their summaries, for "pelmora --help".
QString subcommandHelp();

// The parser's help with "Usage: pelmora" (and the subcommand, when given) at its head: the
// options are read before any application object exists, so Qt does not know the name.
QString usageHelp(const QCommandLineParser &p, const QString &subcommand = QString());

// Runs arguments[1] with arguments[2...]; a QCoreApplication must exist. Returns the exit
// code; results go to `out`, errors to `err`.
int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err);
int runCommandLine(const QList<Command> &table, const QStringList &arguments, QTextStream &out,
                   QTextStream &err);

} // namespace cli
