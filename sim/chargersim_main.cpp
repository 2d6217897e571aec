// chargersim: a virtual charger served on a pseudo-terminal.
#include "ptyserver.h"
#include "statefile.h"
#include "virtualcharger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <QFile>
#include <QSet>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
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

double number(const QString &text, const QString &option, double low, double high) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || v < low || v > high)
        fail(QStringLiteral("--%1 expects a number from %2 to %3, got \"%4\"")
                 .arg(option)
                 .arg(low)
                 .arg(high)
                 .arg(text));
    return v;
}

void print(const QString &text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

const char *const kConsoleHelp =
    "Commands: press N | release N (push-button SW1..SW6), status, soc PERCENT, lab VOLTS|off,\n"
    "          supply VOLTS, doubler ok|broken, booster on|off, ambient C, packtemp C,\n"
    "          battery in|out, fail-eeprom CELL[,CELL...]|off, speed FACTOR,\n"
    "          bootloader (restart into the boot loader), firmware (restart the firmware),\n"
    "          save, help, quit\n"
    "          CELL: [master:|slave:|ext0:|ext1:]ADDRESS (no prefix: master and slave)";

// "12", "slave:6,ext1:0x100" -> the EEPROM cells, or nothing when a cell is not understood.
std::optional<QSet<int>> eepromCells(const QString &text) {
    using sim::EepromMemory;
    QSet<int> cells;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        if (parts.size() > 2) return std::nullopt;
        bool ok = false;
        const int address = parts.last().toInt(&ok, 0);
        const QString memory = parts.size() == 2 ? parts.first().toLower() : QString();
        const bool external = memory.startsWith(QLatin1String("ext"));
        if (!ok || address < 0 || address >= (external ? sim::kExtEepromBytes : 256))
            return std::nullopt;
        if (memory.isEmpty()) {
            cells << sim::eepromCell(EepromMemory::Master, address)
                  << sim::eepromCell(EepromMemory::Slave, address);
        } else if (memory == QLatin1String("master")) {
            cells << sim::eepromCell(EepromMemory::Master, address);
        } else if (memory == QLatin1String("slave")) {
            cells << sim::eepromCell(EepromMemory::Slave, address);
        } else if (memory == QLatin1String("ext0")) {
            cells << sim::eepromCell(EepromMemory::External0, address);
        } else if (memory == QLatin1String("ext1")) {
            cells << sim::eepromCell(EepromMemory::External1, address);
        } else {
            return std::nullopt;
        }
    }
    if (cells.isEmpty()) return std::nullopt;
    return cells;
}

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

// Every output, the supply and doubler, both temperatures and the pack.
void printStatus(sim::VirtualCharger &charger) {
    const sim::Outputs &o = charger.outputs;
    const qint64 t = qint64(charger.chargerSeconds());
    print(QStringLiteral("time %1:%2:%3  battery %4  %5 V  %6 A charge  %7 A discharge  "
                         "charged %8 %")
              .arg(t / 3600)
              .arg((t / 60) % 60, 2, 10, QLatin1Char('0'))
              .arg(t % 60, 2, 10, QLatin1Char('0'))
              .arg(charger.labSupplyVolts > 0 ? QStringLiteral("lab supply")
                   : charger.batteryPresent   ? QStringLiteral("in")
                                              : QStringLiteral("out"))
              .arg(charger.batteryVolts(), 0, 'f', 3)
              .arg(charger.chargeAmps(), 0, 'f', 3)
              .arg(charger.dischargeAmps(), 0, 'f', 3)
              .arg(charger.battery().stateOfCharge() * 100, 0, 'f', 1));
    print(QStringLiteral("outputs: charge %1  discharge %2  power %3  ground %4  led %5  fan %6  "
                         "doubler %7")
              .arg(onOff(o.charge), onOff(o.discharge), onOff(o.power), onOff(o.ground),
                   onOff(o.led), onOff(o.fan),
                   o.doublerCut ? QStringLiteral("cut") : QStringLiteral("running")));
    print(QStringLiteral("pots: charge %1  discharge %2  gain %3  offset %4  pwm %5/%6")
              .arg(o.potCharge)
              .arg(o.potDischarge)
              .arg(o.potGain)
              .arg(o.potOffset)
              .arg(o.pwmFrequency)
              .arg(o.pwmDelta));
    print(QStringLiteral("supply %1 V (%2)  doubler %3 V%4  ambient %5 C  heat sink %6 C  "
                         "pack %7 C")
              .arg(charger.supplyVolts, 0, 'f', 2)
              .arg(charger.boosterSupply ? QStringLiteral("booster") : QStringLiteral("doubler"))
              .arg(charger.doublerVolts(), 0, 'f', 2)
              .arg(charger.doublerBroken ? QStringLiteral(" (broken)") : QString())
              .arg(charger.battery().spec().ambientC, 0, 'f', 1)
              .arg(charger.heatsinkTemperature(), 0, 'f', 1)
              .arg(charger.packTemperature(), 0, 'f', 1));
}

// The number after a console command, within [low, high]; complains and returns nothing
// otherwise.
std::optional<double> consoleNumber(const QStringList &w, const char *what, double low,
                                    double high) {
    bool ok = false;
    const double v = w.size() > 1 ? w.at(1).toDouble(&ok) : 0;
    if (ok && v >= low && v <= high) return v;
    print(QStringLiteral("%1 expects a number from %2 to %3")
              .arg(QLatin1String(what))
              .arg(low)
              .arg(high));
    return std::nullopt;
}

// One line typed on the console.
void consoleCommand(sim::VirtualCharger &charger, const QString &line, const QString &statePath) {
    const QStringList w = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty()) return;
    const QString cmd = w.at(0).toLower();
    bool ok = false;
    const int n = w.size() > 1 ? w.at(1).toInt(&ok) : 0;
    if ((cmd == QLatin1String("press") || cmd == QLatin1String("release")) && ok && n >= 1 &&
        n <= 6) {
        charger.pressButton(n, cmd == QLatin1String("press"));
        print(QStringLiteral("SW%1 %2").arg(n).arg(cmd == QLatin1String("press") ? "pressed"
                                                                                 : "released"));
    } else if (cmd == QLatin1String("status")) {
        printStatus(charger);
    } else if (cmd == QLatin1String("supply")) {
        if (const auto v = consoleNumber(w, "supply", 5, 30)) {
            charger.update();
            charger.supplyVolts = *v;
            print(QStringLiteral("supply at %1 V").arg(*v));
        }
    } else if (cmd == QLatin1String("ambient")) {
        if (const auto v = consoleNumber(w, "ambient", -20, 50)) {
            charger.setAmbient(*v);
            print(QStringLiteral("ambient at %1 C").arg(*v));
        }
    } else if (cmd == QLatin1String("packtemp")) {
        if (const auto v = consoleNumber(w, "packtemp", -20, 100)) {
            charger.setPackTemperature(*v);
            print(QStringLiteral("pack at %1 C").arg(*v));
        }
    } else if (cmd == QLatin1String("doubler") && w.size() > 1 &&
               (w.at(1) == QLatin1String("ok") || w.at(1) == QLatin1String("broken"))) {
        charger.update();
        charger.doublerBroken = w.at(1) == QLatin1String("broken");
        print(charger.doublerBroken
                  ? QStringLiteral("doubler broken: its output stays at the supply")
                  : QStringLiteral("doubler working"));
    } else if (cmd == QLatin1String("booster") && w.size() > 1 &&
               (w.at(1) == QLatin1String("on") || w.at(1) == QLatin1String("off"))) {
        charger.update();
        charger.boosterSupply = w.at(1) == QLatin1String("on");
        print(charger.boosterSupply
                  ? QStringLiteral("boost-type supply: command 51 takes 4 argument bytes")
                  : QStringLiteral("doubler: command 51 takes 1 argument byte"));
    } else if (cmd == QLatin1String("battery") && w.size() > 1 &&
               (w.at(1) == QLatin1String("in") || w.at(1) == QLatin1String("out"))) {
        charger.setBatteryPresent(w.at(1) == QLatin1String("in"));
        print(charger.batteryPresent ? QStringLiteral("battery plugged in")
                                     : QStringLiteral("battery unplugged"));
    } else if (cmd == QLatin1String("fail-eeprom") && w.size() > 1) {
        if (w.at(1) == QLatin1String("off")) {
            charger.faults.failingEepromCells.clear();
            print(QStringLiteral("every EEPROM write succeeds"));
        } else if (const auto cells = eepromCells(w.at(1))) {
            charger.faults.failingEepromCells += *cells;
            print(QStringLiteral("%1 EEPROM cell(s) fail their writes (acknowledged, not written)")
                      .arg(charger.faults.failingEepromCells.size()));
        } else {
            print(QStringLiteral(
                "fail-eeprom expects [master:|slave:|ext0:|ext1:]ADDRESS[,...] or off"));
        }
    } else if (cmd == QLatin1String("soc") && w.size() > 1) {
        const double p = w.at(1).toDouble(&ok);
        if (!ok || p < 0 || p > 100) {
            print(QStringLiteral("soc expects a percentage from 0 to 100"));
            return;
        }
        sim::BatterySpec spec = charger.battery().spec();
        spec.stateOfCharge = p / 100.0;
        charger.setBattery(spec);
        print(QStringLiteral("state of charge %1 %").arg(p));
    } else if (cmd == QLatin1String("lab") && w.size() > 1) {
        const bool off = w.at(1) == QLatin1String("off");
        const double v = off ? 0 : w.at(1).toDouble(&ok);
        if (!off && (!ok || v <= 0 || v > 30)) {
            print(QStringLiteral("lab expects a voltage from 0 to 30, or off"));
            return;
        }
        charger.labSupplyVolts = v;
        print(v > 0 ? QStringLiteral("laboratory supply at %1 V in the battery's place").arg(v)
                    : QStringLiteral("battery connected"));
    } else if (cmd == QLatin1String("speed") && w.size() > 1) {
        const double f = w.at(1).toDouble(&ok);
        if (!ok || f <= 0) {
            print(QStringLiteral("speed expects a positive number"));
            return;
        }
        charger.setSpeed(f);
        print(QStringLiteral("clock speed factor %1").arg(f));
    } else if (cmd == QLatin1String("bootloader") || cmd == QLatin1String("firmware")) {
        const bool boot = cmd == QLatin1String("bootloader");
        charger.outputs = sim::Outputs{}; // a restart: every output at its power-on state
        charger.setBootLoader(boot);
        print(boot ? QStringLiteral("boot loader (19200 baud)")
                   : QStringLiteral("firmware (9600 baud)"));
    } else if (cmd == QLatin1String("save")) {
        QString why;
        if (statePath.isEmpty())
            print(QStringLiteral("no state file (start with --state FILE)"));
        else if (sim::saveState(charger, statePath, &why))
            print(QStringLiteral("saved %1").arg(statePath));
        else
            print(QStringLiteral("cannot save %1: %2").arg(statePath, why));
    } else if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        QCoreApplication::quit();
    } else {
        print(QString::fromLatin1(kConsoleHelp));
    }
}

} // namespace

int main(int argc, char **argv) {
    // Started with standard input, output or error closed, the pseudo-terminal would take one
    // of those numbers and the console would read the PC's bytes: hold them with /dev/null.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chargersim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELMORA_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Virtual fast charger on a pseudo-terminal. Prints the device path, then serves the "
        "charger's serial protocol (or its boot loader) until stopped (Ctrl-C, or \"quit\" on "
        "the console).\nPoint pelmora at it with: pelmora --com 1=DEVICE\n"
        "Console commands on standard input: press N | release N (push-buttons SW1..SW6), "
        "status (every output, the supply and doubler, both temperatures), soc PERCENT, "
        "lab VOLTS|off, supply VOLTS, doubler ok|broken, booster on|off, ambient C, "
        "packtemp C, battery in|out, fail-eeprom CELL[,CELL...]|off, speed FACTOR, "
        "bootloader, firmware, save, help, quit.\n"
        "The channels follow the charger's own hardware, whatever its EEPROMs hold: the "
        "factory calibration is within 1.5 % of it (--miscalibrate: about 10 % off). An "
        "EEPROM byte write takes its write time (4 ms master, 5 ms slave and external) "
        "before the ACK."));
    p.addHelpOption();
    p.addVersionOption();
    const auto opt = [&p](const char *name, const char *help, const char *value = nullptr,
                          const char *def = nullptr) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help));
        if (value) o.setValueName(QString::fromLatin1(value));
        if (def) o.setDefaultValue(QString::fromLatin1(def));
        p.addOption(o);
        return o;
    };
    const auto pace = opt("pace", "Pace the line both ways at the byte time (10 bits) of the "
                                  "charger's line speed (9600 baud, 19200 in the monitor stream "
                                  "and the boot loader): the charger's answers leave, and the "
                                  "PC's bytes reach the charger, one byte time apart.");
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
                                 "receiving N bytes (mid-exchange), then exit.",
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
    const auto state = opt("state",
                           "Keep the charger's memories and battery in FILE: loaded at "
                           "start when it exists, saved on exit (Ctrl-C too) and every "
                           "30 s.",
                           "FILE");
    const auto chemistry = opt("chemistry",
                               "Battery chemistry: nicd, nimh, lithium or lead "
                               "(default nimh).",
                               "TYPE");
    const auto cells = opt("cells", "Cells in series (1 to 40, default 6).", "N");
    const auto capacity = opt("capacity", "Battery capacity in mAh (default 2000).", "MAH");
    const auto soc = opt("soc", "State of charge in percent (default 30).", "PERCENT");
    const auto ambient = opt("ambient", "Ambient temperature in degrees C (default 20).", "C");
    const auto supply = opt("supply", "Supply voltage in volts (default 12).", "V");
    const auto packTemp =
        opt("pack-temp", "Pack temperature at start in degrees C (default: the ambient).", "C");
    const auto unplugged = opt("unplugged", "Start with no battery plugged in.");
    const auto doublerBroken = opt("doubler-broken", "The doubler (or booster) is broken: its "
                                                     "output stays at the supply.");
    const auto miscalibrate = opt("miscalibrate", "Store calibration constants about 10 % off "
                                                  "the hardware (a charger to recalibrate).");
    const auto eepromFail = opt("fail-eeprom-write",
                                "Fault: writes to these EEPROM cells fail: acknowledged after "
                                "their write time as usual, but the cell keeps its old byte. "
                                "CELL: [master:|slave:|ext0:|ext1:]ADDRESS (no prefix: master "
                                "and slave). Repeatable.",
                                "CELL[,CELL...]");
    const auto booster = opt("booster", "The charger has a boost-type supply: command 51 takes "
                                        "its PWM frequency and delta (4 argument bytes).");
    const auto lab = opt("lab-supply",
                         "A laboratory supply at V volts takes the battery's "
                         "place (for the cell-voltage calibration).",
                         "V");
    const auto reversed = opt("reversed", "The battery is connected the wrong way round.");
    const auto monitorType = opt("monitor-type",
                                 "Type byte of the monitor records: 1 (charge) or "
                                 "2 (capacity); by default 1 while the charger's "
                                 "own run charges and 2 once it has ended.",
                                 "N");
    const auto program = opt("program",
                             "Charge program (1 to 127, a record of the second external EEPROM) "
                             "the charger's own run follows after command 3; by default the "
                             "first program for the battery's chemistry and cell count.",
                             "N");
    const auto strictBaud = opt("strict-baud", "Bytes pass only when the PC's port is set to the "
                                               "charger's line speed (9600, or 19200 in the "
                                               "monitor stream and the boot loader).");
    const auto noConsole = opt("no-console", "Do not read console commands from standard input.");
    // A wrong option is a usage error (exit 2), like pelmora's.
    if (!p.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "chargersim: %s\nTry 'chargersim --help'.\n",
                     qPrintable(p.errorText()));
        return 2;
    }
    p.process(app); // --help and --version

    sim::VirtualCharger charger(p.isSet(bootloader) ? sim::VirtualCharger::Mode::BootLoader
                                                    : sim::VirtualCharger::Mode::Firmware);
    const QString statePath = p.value(state);
    if (!statePath.isEmpty() && QFile::exists(statePath)) {
        QString why;
        if (!sim::loadState(charger, statePath, &why))
            fail(QStringLiteral("cannot load the state file %1: %2").arg(statePath, why));
    }
    if (p.isSet(noSlave)) charger.slavePresent = false;
    sim::BatterySpec spec = charger.battery().spec();
    spec.stateOfCharge = charger.battery().stateOfCharge();
    if (p.isSet(chemistry) && !sim::chemistryFromText(p.value(chemistry), &spec.chemistry))
        fail(QStringLiteral("--chemistry expects nicd, nimh, lithium or lead"));
    if (p.isSet(cells)) spec.cells = int(number(p.value(cells), QStringLiteral("cells"), 1, 40));
    if (p.isSet(capacity))
        spec.capacityAh =
            number(p.value(capacity), QStringLiteral("capacity"), 50, 200000) / 1000.0;
    if (p.isSet(soc))
        spec.stateOfCharge = number(p.value(soc), QStringLiteral("soc"), 0, 100) / 100.0;
    if (p.isSet(ambient))
        spec.ambientC = number(p.value(ambient), QStringLiteral("ambient"), -20, 50);
    charger.setBattery(spec);
    if (p.isSet(supply))
        charger.supplyVolts = number(p.value(supply), QStringLiteral("supply"), 5, 30);
    if (p.isSet(booster)) charger.boosterSupply = true;
    if (p.isSet(doublerBroken)) charger.doublerBroken = true;
    if (p.isSet(unplugged)) charger.setBatteryPresent(false);
    if (p.isSet(packTemp))
        charger.setPackTemperature(
            number(p.value(packTemp), QStringLiteral("pack-temp"), -20, 100));
    if (p.isSet(miscalibrate))
        sim::storeCalibration(charger.eepromMaster, charger.eepromSlave, charger.truth,
                              sim::kMiscalibratedErrors);
    for (const QString &v : p.values(eepromFail)) {
        const auto cells = eepromCells(v);
        if (!cells)
            fail(QStringLiteral("--fail-eeprom-write expects [master:|slave:|ext0:|ext1:]ADDRESS"
                                "[,...], got \"%1\"")
                     .arg(v));
        charger.faults.failingEepromCells += *cells;
    }
    charger.reversedBattery = p.isSet(reversed);
    if (p.isSet(lab))
        charger.labSupplyVolts = number(p.value(lab), QStringLiteral("lab-supply"), 0, 30);
    if (p.isSet(monitorType))
        charger.forceMonitorType =
            int(number(p.value(monitorType), QStringLiteral("monitor-type"), 1, 2));
    if (p.isSet(program))
        charger.monitorProgram = int(number(p.value(program), QStringLiteral("program"), 1, 127));
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
    server.setStrictBaud(p.isSet(strictBaud));
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

    // The state survives a crash of the host too: saved every 30 s, and at the end.
    QTimer autosave;
    if (!statePath.isEmpty()) {
        QObject::connect(&autosave, &QTimer::timeout, &app,
                         [&charger, &statePath] { sim::saveState(charger, statePath); });
        autosave.start(30'000);
    }

    std::unique_ptr<QSocketNotifier> console;
    QByteArray consoleLine;
    if (!p.isSet(noConsole)) {
        // Started in the background of a shell, a read from the terminal must fail (and end
        // the console) rather than stop the whole program.
        std::signal(SIGTTIN, SIG_IGN);
        console = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(console.get(), &QSocketNotifier::activated, &app, [&] {
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) { // end of input: no console any more
                console->setEnabled(false);
                return;
            }
            consoleLine.append(buf, n);
            int nl;
            while ((nl = consoleLine.indexOf('\n')) >= 0) {
                const QString line = QString::fromLocal8Bit(consoleLine.left(nl));
                consoleLine.remove(0, nl + 1);
                consoleCommand(charger, line, statePath);
            }
        });
    }

    print(server.slavePath());
    const int rc = app.exec();
    if (!statePath.isEmpty()) {
        QString why;
        if (!sim::saveState(charger, statePath, &why)) {
            std::fprintf(stderr, "chargersim: cannot save the state file %s: %s\n",
                         qPrintable(statePath), qPrintable(why));
            return 1;
        }
    }
    return rc;
}
