#include "dispatcher.h"

#include "connect.h"
#include "interrupt.h"
#include "link/chargerlink.h"
#include "linksetup.h"
#include "serial/commap.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace cli {

namespace {

const Command *find(const QList<Command> &table, const QString &name) {
    for (const Command &c : table)
        if (c.name == name) return &c;
    return nullptr;
}

constexpr int kDefaultWaitS = 5;

QString exitCodeHelp() {
    return QStringLiteral("Exit codes: 0 done, 1 other failure, 2 wrong option or argument, "
                          "3 no charger (port or answer), 4 the charger stopped answering, "
                          "5 bad file, 6 value or operation refused, 130 interrupted.\n");
}

} // namespace

QString usageHelp(const QCommandLineParser &p, const QString &subcommand) {
    QString text = p.helpText();
    static const QRegularExpression usage(QStringLiteral("^Usage: \\S+"));
    text.replace(usage, subcommand.isEmpty() ? QStringLiteral("Usage: pelmora")
                                             : QStringLiteral("Usage: pelmora ") + subcommand);
    return text;
}

bool isSubcommand(const QString &name) {
    return find(commandTable(), name) != nullptr;
}

QString subcommandHelp() {
    QString text = QStringLiteral("Subcommands (pelmora SUBCOMMAND --help for their options):\n");
    int width = 0;
    for (const Command &c : commandTable())
        width = qMax(width, int(c.name.size()));
    for (const Command &c : commandTable())
        text +=
            QStringLiteral("  ") + c.name.leftJustified(width + 2) + c.summary + QLatin1Char('\n');
    return text + exitCodeHelp();
}

int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err) {
    return runCommandLine(commandTable(), arguments, out, err);
}

int runCommandLine(const QList<Command> &table, const QStringList &arguments, QTextStream &out,
                   QTextStream &err) {
    const QString name = arguments.value(1);
    const Command *command = find(table, name);
    if (!command) {
        err << "pelmora: unknown subcommand '" << name << "'\nTry 'pelmora --help'.\n";
        return Usage;
    }
    const QString prefix = QStringLiteral("pelmora %1: ").arg(name);

    QCommandLineParser p;
    p.setApplicationDescription(command->summary);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const LinkOptionSet linkOptions;
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Use this serial device for this run only (nothing is remembered)."),
        QStringLiteral("DEVICE"));
    const QCommandLineOption wait(
        QStringLiteral("wait"),
        QStringLiteral("How long to wait for the charger to answer the connection (default %1).")
            .arg(kDefaultWaitS),
        QStringLiteral("seconds"), QString::number(kDefaultWaitS));
    p.addOptions({help, port, wait});
    linkOptions.addTo(p);
    if (command->addOptions) command->addOptions(p);

    QStringList rest{arguments.value(0, QStringLiteral("pelmora"))};
    rest += arguments.mid(2);
    const auto usageError = [&](const QString &why) {
        err << prefix << why << "\nTry 'pelmora " << name << " --help'.\n";
        return int(Usage);
    };
    if (!p.parse(rest)) return usageError(p.errorText());
    if (p.isSet(help)) {
        out << usageHelp(p, name) << '\n' << exitCodeHelp();
        return Ok;
    }
    LinkOptions lo;
    QString why;
    if (!linkOptions.read(p, &lo, &why)) return usageError(why);
    lo.device = p.value(port);
    bool ok = false;
    const double waitS = p.value(wait).toDouble(&ok);
    if (!ok || waitS <= 0 || waitS > 3600)
        return usageError(QStringLiteral("--wait expects a number of seconds from 0 to 3600"));
    if (lo.demo && p.isSet(port))
        return usageError(QStringLiteral("--demo and --port cannot be used together"));
    if (p.isSet(port) && lo.device.isEmpty())
        return usageError(QStringLiteral("--port expects a device"));

    LinkSetup setup;
    if (!setup.setUp(lo, &why)) return usageError(why);

    // What COM 1 stands for: the device, or "virtual" for the demo charger.
    const QString device = setup.ports->device(1);
    Interrupt interrupt;
    QObject::connect(&interrupt, &Interrupt::raised, setup.link.get(),
                     [&setup] { setup.link->wake(); });
    if (command->check) {
        Bench before{
            nullptr,          device, out, err, [&interrupt] { return interrupt.isRaised(); },
            setup.ports.get()};
        const int checked = command->check(before, p);
        if (checked != Ok) return checked;
    }
    chlink::ChargerLink *link = nullptr;
    if (command->needsCharger) {
        const int connected =
            connectCharger(*setup.link, device, int(waitS * 1000), interrupt, prefix, err);
        if (connected != Ok) return connected;
        link = setup.link.get();
    }
    Bench bench{
        link, device, out, err, [&interrupt] { return interrupt.isRaised(); }, setup.ports.get()};
    int code = command->run(bench, p);
    out.flush();
    if (code != Ok && interrupt.isRaised()) code = Interrupted;
    // What was sent leaves the port before it closes.
    setup.link->closePort();
    return code;
}

} // namespace cli
