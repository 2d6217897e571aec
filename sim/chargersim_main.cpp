// chargersim: a virtual charger served on a pseudo-terminal.
#include "ptyserver.h"
#include "virtualcharger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the self-pipe; the event loop does the rest.
void onSignal(int) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &b, 1);
}

bool installSignalPipe() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0;
}

[[noreturn]] void fail(const QString &text) {
    std::fprintf(stderr, "chargersim: %s\n", qPrintable(text));
    std::exit(2);
}

// "0x1000:3" or "4096" -> address and count (count 1 when absent).
std::pair<int, int> addressAndCount(const QString &text, const QString &option,
                                    bool anyAllowed = false) {
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok1 = false, ok2 = true;
    const int address = parts.at(0).toInt(&ok1, 0);
    const int count = parts.size() > 1 ? parts.at(1).toInt(&ok2, 0) : 1;
    if (!ok1 || !ok2 || parts.size() > 2 || address < (anyAllowed ? -1 : 0) || count < 1)
        fail(QStringLiteral("--%1 expects ADDRESS[:COUNT], got \"%2\"").arg(option, text));
    return {address, count};
}

qint64 nonNegative(const QString &text, const QString &option) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 0);
    if (!ok || v < 0)
        fail(QStringLiteral("--%1 expects a number of 0 or more, got \"%2\"").arg(option, text));
    return v;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chargersim"));

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Virtual fast charger on a pseudo-terminal. Prints the device path, then "
                       "serves the charger's serial protocol until stopped (Ctrl-C).\n"
                       "Point pelmora at it with: pelmora --com 1=DEVICE"));
    p.addHelpOption();
    const auto opt = [&p](const char *name, const char *help, const char *value = nullptr,
                          const char *def = nullptr) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help));
        if (value) o.setValueName(QString::fromLatin1(value));
        if (def) o.setDefaultValue(QString::fromLatin1(def));
        p.addOption(o);
        return o;
    };
    const auto pace = opt("pace", "Send at the byte time of the charger's line speed (9600 baud, "
                                  "19200 in the monitor stream and the boot loader).");
    const auto speed = opt("speed",
                           "Charger clock speed factor (default 1; 60 runs one hour of "
                           "charge in one minute).",
                           "factor", "1");
    const auto bootloader = opt("bootloader", "Start in the boot loader (19200 baud): answers "
                                              "\"c\" to \"C\",\"D\" and takes 69-byte blocks.");
    const auto noSlave = opt("no-slave", "The slave controller does not answer over I2C (link "
                                         "status c = 0).");
    const auto silentAfter =
        opt("silent-after", "Fault: go silent after sending N more bytes.", "N");
    const auto stray =
        opt("stray-every", "Fault: send a stray byte 0x11 before every N-th reply.", "N");
    const auto vanishAfter = opt("vanish-after",
                                 "Fault: close the pseudo-terminal after "
                                 "receiving N bytes (mid-exchange).",
                                 "N");
    const auto nack = opt("nack-block",
                          "Fault: the boot loader answers NACK (7) to the block at "
                          "ADDRESS, COUNT times (default 1). Repeatable.",
                          "ADDRESS[:COUNT]");
    const auto erflash = opt("erflash-block",
                             "Fault: the boot loader answers ERFLASH (8) to the "
                             "block at ADDRESS, COUNT times. Repeatable.",
                             "ADDRESS[:COUNT]");
    const auto flashFail = opt("fail-flash-write",
                               "Fault: the next COUNT flash writes at ADDRESS "
                               "fail (-1: any address); the charger answers 8 "
                               "instead of its ACK.",
                               "ADDRESS[:COUNT]");
    p.process(app);

    sim::VirtualCharger charger(p.isSet(bootloader) ? sim::VirtualCharger::Mode::BootLoader
                                                    : sim::VirtualCharger::Mode::Firmware);
    charger.slavePresent = !p.isSet(noSlave);
    bool ok = false;
    const double factor = p.value(speed).toDouble(&ok);
    if (!ok || factor <= 0) fail(QStringLiteral("--speed expects a positive number"));
    charger.setSpeed(factor);
    if (p.isSet(silentAfter))
        charger.faults.silenceAfterBytes =
            nonNegative(p.value(silentAfter), QStringLiteral("silent-after"));
    if (p.isSet(stray))
        charger.faults.strayEvery = int(nonNegative(p.value(stray), QStringLiteral("stray-every")));
    if (p.isSet(vanishAfter))
        charger.faults.vanishAfterBytes =
            nonNegative(p.value(vanishAfter), QStringLiteral("vanish-after"));
    for (const QString &v : p.values(nack)) {
        const auto [a, n] = addressAndCount(v, QStringLiteral("nack-block"));
        charger.scriptBootAnswer(a, 7, n);
    }
    for (const QString &v : p.values(erflash)) {
        const auto [a, n] = addressAndCount(v, QStringLiteral("erflash-block"));
        charger.scriptBootAnswer(a, 8, n);
    }
    if (p.isSet(flashFail)) {
        const auto [a, n] =
            addressAndCount(p.value(flashFail), QStringLiteral("fail-flash-write"), true);
        charger.failFlashWrites(n, a);
    }

    sim::PtyServer server(&charger);
    QString reason;
    if (!server.start(&reason)) {
        std::fprintf(stderr, "chargersim: cannot create a pseudo-terminal: %s\n",
                     qPrintable(reason));
        return 1;
    }
    if (p.isSet(pace)) server.setPacingFollowsCharger(true);
    QObject::connect(&charger, &sim::VirtualCharger::vanishRequested, &app, [] {
        std::fprintf(stderr, "chargersim: the pseudo-terminal was closed (vanish fault)\n");
        QCoreApplication::quit();
    });

    if (!installSignalPipe()) {
        std::fprintf(stderr, "chargersim: cannot install the signal handler\n");
        return 1;
    }
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char buf[16];
        while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        QCoreApplication::quit();
    });

    std::printf("%s\n", qPrintable(server.slavePath()));
    std::fflush(stdout);
    return app.exec();
}
