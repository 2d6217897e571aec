// sparlo: sends a HEX firmware image to the charger's boot loader, from its window or from
// the command line.
#include "bootlink.h"
#include "cli.h"
#include "desktop/icon.h"
#include "desktop/qtfrench.h"
#include "desktop/version.h"
#include "mainwindow.h"
#include "settingsfile.h"

#include <QApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace loader;

namespace {

int g_signalPipe[2] = {-1, -1};

// Ctrl-C and SIGTERM. Until the port is opened nothing has been sent and nothing needs
// ending: sparlo exits at once, whatever it is doing (reading the file, asking on the
// terminal). From then on the signal stops the run through the event loop, so that an
// upload in progress still sends its end sequence before sparlo exits.
volatile std::sig_atomic_t g_exitAtOnce = 1;

void onSignal(int) {
    if (g_exitAtOnce) {
        static const char msg[] = "\nsparlo: interrupted\n";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, msg, sizeof msg - 1);
        ::_exit(ExitInterrupted);
    }
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

void catchSignals() {
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART; // the handler itself ends a blocking call when it must
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

QString comMapFile() {
    return QFileInfo(settingsFilePath()).absolutePath() + QStringLiteral("/ports.ini");
}

BootLink::PortFactory serialPorts() {
    return [](const QString &device) -> BootPort * { return new SerialBootPort(device); };
}

int runTerminal(int argc, char **argv, const CliOptions &options) {
    catchSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sparlo"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The command line keeps no mapping between runs.
    ComMap ports(kComPorts);
    for (const QString &m : options.mappings) {
        QString why;
        if (!ports.parseAndSet(m, false, &why)) {
            err << "sparlo: " << why << Qt::endl;
            return ExitUsage;
        }
    }
    const QString device = options.device.isEmpty() ? ports.device(options.com) : options.device;
    if (device.isEmpty()) {
        err << "sparlo: no serial device for COM " << options.com
            << " (map one with --com N=DEVICE)" << Qt::endl;
        return ExitPort;
    }
    BootLink link(serialPorts(), [device](int) { return device; });
    link.portSetup();
    std::unique_ptr<QSocketNotifier> interrupt;
    if (::pipe(g_signalPipe) == 0) {
        ::fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
        interrupt = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(interrupt.get(), &QSocketNotifier::activated, &link, [&link] {
            char c;
            [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
            link.stop();
        });
    }
    QTextStream in(stdin);
    return runUpload(
        link, options, out, err,
        [&](const QString &question) {
            out << question << Qt::flush;
            const QString answer = in.readLine().trimmed().toLower();
            return answer == QLatin1String("y") || answer == QLatin1String("yes");
        },
        [] {
            if (g_signalPipe[1] >= 0) g_exitAtOnce = 0;
        });
}

} // namespace

int main(int argc, char **argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const CliOptions options = parseCommandLine(args);
    switch (options.mode) {
    case CliOptions::Mode::Help:
        std::fputs(qPrintable(helpText()), stdout);
        return ExitOk;
    case CliOptions::Mode::Version:
        std::fprintf(stdout, "sparlo %s\n", qPrintable(desktop::version()));
        return ExitOk;
    case CliOptions::Mode::Error:
        std::fprintf(stderr, "sparlo: %s\nTry 'sparlo --help'.\n", qPrintable(options.error));
        return ExitUsage;
    case CliOptions::Mode::Upload:
        return runTerminal(argc, argv, options);
    case CliOptions::Mode::Window:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sparlo"));
    QApplication::setApplicationVersion(desktop::version());
    desktop::useQtFrench(app);
    QApplication::setWindowIcon(desktop::appIcon());
    ComMap ports(kComPorts, comMapFile());
    for (const QString &m : options.mappings) {
        QString why;
        if (!ports.parseAndSet(m, true, &why)) {
            std::fprintf(stderr, "sparlo: %s\n", qPrintable(why));
            return ExitUsage;
        }
    }
    BootLink link(serialPorts(), [&ports](int n) { return ports.device(n); });
    Main window(link, ports, settingsFilePath());
    window.show();
    return app.exec();
}
