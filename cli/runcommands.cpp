#include "runcommands.h"

#include "charger/eeprommap.h"
#include "desktop/version.h"
#include "link/chargerlink.h"
#include "link/session.h"
#include "modes/chargerun.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <cmath>
#include <optional>

namespace cli {

namespace {

using modes::PollEnd;
using modes::PollSteps;
using modes::Run;

// ---------------------------------------------------------------- settings

// The setting (0..255) for a current in amperes: the highest current the window can show
// (floor(100 x v / divisor) / 100) that is not above the request, at the first setting that
// shows it (several settings show the same current when the divisor is above 100). Nothing
// when the request is outside what the slider can set.
std::optional<int> potForAmps(double amps, int divisor, QString *why) {
    const double top = *modes::setpointAmps(255, divisor);
    if (!(amps >= 0) || amps > top + 1e-9) {
        *why = QStringLiteral("the current must be from 0 to %1 A").arg(top);
        return std::nullopt;
    }
    int pot = 0;
    for (int v = 1; v <= 255; ++v) {
        const double shown = *modes::setpointAmps(v, divisor);
        if (shown <= amps + 1e-9 && shown > *modes::setpointAmps(pot, divisor) + 1e-9) pot = v;
    }
    return pot;
}

// --current A: a number (exit 2 otherwise), then a setting the slider can make (exit 6).
int parseCurrent(Bench &bench, const QCommandLineParser &p, const charger::Param &divisorParam,
                 const char *what, int &pot) {
    if (!p.isSet(QStringLiteral("current"))) {
        bench.err << "--current is required (amperes)\n";
        return Usage;
    }
    bool ok = false;
    const double amps = p.value(QStringLiteral("current")).toDouble(&ok);
    if (!ok) {
        bench.err << "--current: not a number: " << p.value(QStringLiteral("current")) << '\n';
        return Usage;
    }
    const int divisor = charger::value(bench.link->tableB, divisorParam);
    if (divisor == 0) {
        bench.err << "refused: the charger's " << what
                  << " current scale is 0 (slave EEPROM), so no current in amperes can be set\n";
        return Refused;
    }
    QString why;
    const auto v = potForAmps(amps, divisor, &why);
    if (!v) {
        bench.err << "refused: " << why << '\n';
        return Refused;
    }
    pot = *v;
    return Ok;
}

// ---------------------------------------------------------------- output

QString elapsed(qint64 seconds) {
    const modes::Hms h = modes::splitClock(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(h.hours, 2, 10, QLatin1Char('0'))
        .arg(h.minutes, 2, 10, QLatin1Char('0'))
        .arg(h.seconds, 2, 10, QLatin1Char('0'));
}

// A value with its unit, "-" while it has none (no calibration).
QString value(const modes::Kept &k, const char *unit, int decimals = 2) {
    if (!k.value) return QStringLiteral("-");
    return QString::number(*k.value, 'f', decimals) + QLatin1String(unit);
}

QString columns(const QStringList &cells) {
    QString line;
    for (int i = 0; i < cells.size(); ++i) {
        if (i) line += QLatin1String("  ");
        line += i == 0 ? cells[i].leftJustified(8) : cells[i].rightJustified(9);
    }
    return line;
}

QStringList head(const Run &r) {
    return {elapsed(r.duree()),
            value(r.supplyValue(0), " V"),
            value(r.supplyValue(1), " V"),
            value(r.supplyValue(2), " C", 0),
            value(r.current(), " A"),
            value(r.vbat(), " V")};
}

// ---------------------------------------------------------------- the run

struct RunText {
    QString window; // for the sidecar: "pelmora charge"
    QString what;   // "charge"
    QStringList titles;
    std::function<QStringList(const Run &)> line;
    std::function<QString(const Run &)> endReason; // English, for the terminal
};

class Runner {
  public:
    Runner(Bench &bench, Run &run, const RunText &text, RunPace pace)
        : m_bench(bench), m_session(*bench.link), m_run(run), m_text(text), m_pace(pace) {}

    int exec(const modes::RunInfo &setting) {
        m_run.setDecimalPoint(modes::localeDecimalPoint());
        {
            PollSteps st = steps();
            if (!m_run.readStartClock(st)) return broken(st.end());
        }
        const QDateTime now = QDateTime::currentDateTime();
        modes::RunInfo info = setting;
        info.start = now;
        info.version = desktop::version();
        info.window = m_text.window;
        info.port = m_bench.device.isEmpty() ? m_session.deviceName() : m_bench.device;
        QString why;
        if (!m_run.openLog(modes::runLogFolder(), now, info, &why)) {
            m_bench.err << "cannot create the log " << QDir::toNativeSeparators(m_run.logPath())
                        << ": " << why << "\nnothing was switched on\n";
            return Failure;
        }
        if (!m_run.sidecarError().isEmpty())
            m_bench.err << "warning: the run's information file could not be written ("
                        << m_run.sidecarError() << "); the run goes on\n";
        m_bench.err << "log: " << QDir::toNativeSeparators(m_run.logPath()) << '\n';
        m_bench.err.flush();
        {
            PollSteps st = steps();
            if (!st.set(m_run.startOutputs())) return broken(st.end());
        }
        m_bench.out << columns(m_text.titles) << '\n';
        m_bench.out.flush();

        for (;;) {
            // Timerchargeur: a second between the end of a poll and the next.
            m_session.waitUntil(m_stopHere, m_pace.pollMs);
            if (m_stopHere()) return interrupted();
            PollSteps st = steps();
            const modes::PollOutcome o = m_run.poll(st);
            if (o.logFailed)
                m_bench.err << "warning: writing the log failed; the run goes on without it\n";
            if (st.end() != PollEnd::Done) return broken(st.end());
            m_bench.out << columns(m_text.line(m_run)) << '\n';
            m_bench.out.flush();
            if (o.ended) return ended();
        }
    }

  private:
    PollSteps steps() {
        return PollSteps(m_session, m_stopHere,
                         [this](int ms) { return m_run.headlessDelay(m_session, ms, m_stopHere); });
    }

    void closeLog(const QString &reason) {
        m_run.stopLogging();
        m_run.closeLog();
        m_run.finish(reason);
    }

    // The end the poll found: the run's end outputs, as the window sends them.
    int ended() {
        const bool off = modes::switchOff(m_session, m_run.endOutputs(), m_run.pulse());
        closeLog(m_run.endText());
        m_bench.out << "end: " << m_text.endReason(m_run) << '\n';
        m_bench.out.flush();
        if (!off) {
            m_bench.err << "the charger did not confirm that the " << m_text.what
                        << " outputs are off: check the charger\n";
            return TimedOut;
        }
        return Ok;
    }

    // Ctrl-C: what "Arret" sends.
    int interrupted() {
        m_run.stopLogging();
        const bool off = modes::switchOff(m_session, m_run.stopOutputs(), m_run.pulse());
        closeLog(QStringLiteral("Arret"));
        if (!off) {
            m_bench.err << "interrupted; the charger did not confirm that its outputs are off: "
                           "check the charger\n";
            return TimedOut;
        }
        m_bench.err << "interrupted: outputs switched off\n";
        return Interrupted;
    }

    // A step that did not complete: Ctrl-C, or the link lost.
    int broken(PollEnd end) {
        if (end == PollEnd::Interrupted) return interrupted();
        const chlink::LinkError e = m_session.error();
        closeLog(QStringLiteral("Liaison perdue"));
        if (e == chlink::LinkError::Timeout) {
            modes::switchOffAfterFailure(m_session);
            m_bench.err << "the charger stopped answering: switching the charge and discharge "
                           "paths off was attempted; check the charger\n";
        } else {
            m_bench.err << "the link to the charger was lost: check the charger's outputs\n";
        }
        return TimedOut;
    }

    Bench &m_bench;
    chlink::Session m_session;
    Run &m_run;
    const RunText &m_text;
    RunPace m_pace;
    std::function<bool()> m_stopHere = [this] {
        return m_bench.interrupted && m_bench.interrupted();
    };
};

bool haveLink(Bench &bench) {
    if (bench.link) return true;
    bench.err << "no charger link\n";
    return false;
}

// ---------------------------------------------------------------- charge

int runCharge(Bench &bench, const QCommandLineParser &p, RunPace pace) {
    if (!haveLink(bench)) return Failure;
    int pot = 0;
    if (const int r = parseCurrent(bench, p, charger::slave::kPotCharge, "charge", pot); r != Ok)
        return r;
    int mode = 0;
    if (p.isSet(QStringLiteral("mode"))) {
        bool ok = false;
        const QString text = p.value(QStringLiteral("mode"));
        text.trimmed().toInt(&ok);
        // The window reads text that is not a number as MODE 0; a typed option does not.
        if (!ok) {
            bench.err << "--mode: not a whole number: " << text << '\n';
            return Usage;
        }
        const auto m = modes::parseModeText(text);
        if (!m) {
            bench.err << "refused: MODE must be a number from 0 to 255\n";
            return Refused;
        }
        mode = *m;
    }
    modes::ChargeRun run(bench.link->tableA, bench.link->tableB);
    run.reset();
    run.setSetting(pot);
    run.setMode(mode);
    modes::RunInfo info;
    info.setpoint =
        modes::setpointShown(pot, charger::value(bench.link->tableB, charger::slave::kPotCharge));
    bench.err << "charge at " << info.setpoint << " (setting " << pot << "), MODE " << mode << '\n';
    const RunText text{
        QStringLiteral("pelmora charge"),
        QStringLiteral("charge"),
        {"elapsed", "supply", "doubler", "temp", "current", "battery", "delta", "peak", "dV/dt",
         "charged"},
        [](const Run &r) {
            const auto &c = static_cast<const modes::ChargeRun &>(r);
            return head(r) << QString::number(c.vdeltaCount())
                           << QString::number(c.deltaPeak().peak())
                           << QString::number(c.detector().rise())
                           << QString::number(r.counter().capacity()) + QStringLiteral(" mAh");
        },
        [](const Run &r) {
            const auto &c = static_cast<const modes::ChargeRun &>(r);
            return QStringLiteral("charge complete: delta voltage %1, 10 counts or more below "
                                  "its peak %2; %3 mAh")
                .arg(c.vdeltaCount())
                .arg(c.deltaPeak().peak())
                .arg(r.counter().capacity());
        }};
    return Runner(bench, run, text, pace).exec(info);
}

// ---------------------------------------------------------------- discharge

int runDischarge(Bench &bench, const QCommandLineParser &p, RunPace pace) {
    if (!haveLink(bench)) return Failure;
    int pot = 0;
    if (const int r = parseCurrent(bench, p, charger::slave::kPotDischarge, "discharge", pot);
        r != Ok)
        return r;
    if (!p.isSet(QStringLiteral("cells"))) {
        bench.err << "--cells is required (number of cells of the battery)\n";
        return Usage;
    }
    const auto cells = modes::parseCellCount(p.value(QStringLiteral("cells")));
    if (!cells) {
        bench.err << "refused: --cells must be a number above 0\n";
        return Refused;
    }
    // Without it the end of discharge could never be found.
    if (charger::value(bench.link->tableB, modes::channel(modes::Quantity::Vbat).calibration) ==
        0) {
        bench.err << "refused: the battery voltage calibration (slave EEPROM word 6-7) is 0, "
                     "so the end of discharge could not be detected\n";
        return Refused;
    }
    modes::DischargeRun run(bench.link->tableA, bench.link->tableB);
    run.reset();
    run.setSetting(pot);
    run.setCells(*cells);
    modes::RunInfo info;
    info.setpoint = modes::setpointShown(
        pot, charger::value(bench.link->tableB, charger::slave::kPotDischarge));
    info.cells = modes::wholeCells(*cells);
    bench.err << "discharge at " << info.setpoint << " (setting " << pot << "), " << *cells
              << " cells\n";
    const RunText text{
        QStringLiteral("pelmora discharge"),
        QStringLiteral("discharge"),
        {"elapsed", "supply", "doubler", "temp", "current", "battery", "per cell", "discharged"},
        [](const Run &r) {
            const auto &d = static_cast<const modes::DischargeRun &>(r);
            const auto vpc = d.voltsPerCell();
            return head(r) << (vpc ? QString::number(*vpc, 'f', 3) + QStringLiteral(" V")
                                   : QStringLiteral("-"))
                           << QString::number(r.counter().capacity()) + QStringLiteral(" mAh");
        },
        [](const Run &r) {
            const auto &d = static_cast<const modes::DischargeRun &>(r);
            return QStringLiteral("discharge limit: %1 V per cell, below 0.5 V; %2 mAh")
                .arg(QString::number(d.voltsPerCell().value_or(0), 'f', 3))
                .arg(r.counter().capacity());
        }};
    return Runner(bench, run, text, pace).exec(info);
}

} // namespace

Command chargeCommand(RunPace pace) {
    Command c;
    c.name = QStringLiteral("charge");
    c.summary = QStringLiteral("Fast charge as the charge window runs it, until the end of "
                               "charge or Ctrl-C");
    c.addOptions = [](QCommandLineParser &p) {
        p.addOption(QCommandLineOption(QStringLiteral("current"),
                                       QStringLiteral("Charge current in amperes."),
                                       QStringLiteral("A")));
        p.addOption(QCommandLineOption(
            QStringLiteral("mode"),
            QStringLiteral("MODE 0..255 (default 0: the charge is cut for each battery "
                           "reading)."),
            QStringLiteral("N")));
    };
    c.run = [pace](Bench &b, const QCommandLineParser &p) { return runCharge(b, p, pace); };
    return c;
}

Command dischargeCommand(RunPace pace) {
    Command c;
    c.name = QStringLiteral("discharge");
    c.summary = QStringLiteral("Discharge as the discharge window runs it, down to 0.5 V per "
                               "cell or Ctrl-C");
    c.addOptions = [](QCommandLineParser &p) {
        p.addOption(QCommandLineOption(QStringLiteral("current"),
                                       QStringLiteral("Discharge current in amperes."),
                                       QStringLiteral("A")));
        p.addOption(QCommandLineOption(QStringLiteral("cells"),
                                       QStringLiteral("Number of cells of the battery."),
                                       QStringLiteral("N")));
    };
    c.run = [pace](Bench &b, const QCommandLineParser &p) { return runDischarge(b, p, pace); };
    return c;
}

} // namespace cli
