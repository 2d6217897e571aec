#pragma once

#include "command.h"
#include "link/chargerlink.h"

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

// What every subcommand of the command line shares: the English words for the link's
// failures, their exit codes, the rule that a save never replaces a file unasked, and the
// progress line of long transfers.
namespace cli {

// The exit code of an exchange that did not end: no answer in time, a port gone, Ctrl-C.
int exitFor(chlink::LinkError e);
// "the charger did not answer in time" and the like.
QString linkFailureText(chlink::LinkError e);

// Checks, before anything is read from the charger, that `path` may be written: it does not
// exist yet (or --force was given and it is a file), and its folder exists. Ok, or the exit
// code with the reason on `err`.
int checkSaveTarget(const QString &path, bool force, const QString &prefix, QTextStream &err);

// Reads a whole file of at most maxBytes; false with the reason in English.
bool readSmallFile(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *why);

// True when standard error is a terminal: progress lines are shown only there.
bool stderrIsTerminal();

// A line on standard error rewritten in place as a long transfer goes ("reading EEprom2:
// 1200/4096 bytes"), at most five times a second; nothing at all when standard error is not
// a terminal, so that logs of scripts hold only results and errors.
class ProgressLine {
  public:
    ProgressLine(QTextStream &err, const QString &what);
    ~ProgressLine();
    void show(qint64 done, qint64 total);
    void clear();

  private:
    QTextStream &m_err;
    QString m_what;
    bool m_enabled;
    bool m_shown = false;
    QElapsedTimer m_clock;
};

} // namespace cli
