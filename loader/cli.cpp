#include "cli.h"

#include "bootimage.h"
#include "bootlink.h"
#include "upload.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace loader {

QString helpText() {
    return QStringLiteral(
        "Usage: sparlo [--com N=DEVICE ...]\n"
        "       sparlo --port DEVICE|--com N --file FIRMWARE.HEX [--yes] [--wait SECONDS]\n"
        "\n"
        "Sends an Intel HEX firmware image to the charger's boot loader (19200 baud).\n"
        "Without --file the window opens. With --file the upload runs on the terminal:\n"
        "sparlo probes the port until the boot loader answers (reset the charger into its\n"
        "boot loader), sends the image in 64-byte blocks, sends a block again until the\n"
        "boot loader acknowledges it, and gives up after five failed answers to one block\n"
        "in a row. Success is reported only when every block was acknowledged.\n"
        "\n"
        "Options:\n"
        "  --port DEVICE     serial device to use, e.g. /dev/ttyUSB0\n"
        "  --com N           use COM N (1..12), mapped to a device as in the window\n"
        "  --com N=DEVICE    map COM N to DEVICE; in the window the mapping is remembered\n"
        "                    (default: the system's serial ports in name order)\n"
        "  --file FILE       Intel HEX image to upload\n"
        "  --yes             upload without asking for confirmation\n"
        "  --wait SECONDS    how long to probe for the boot loader (default 30)\n"
        "  -h, --help        show this help\n"
        "  --version         show the version\n"
        "Each option takes its value either as the next argument or after '=' (--port=DEVICE).\n"
        "\n"
        "Exit status:\n"
        "  0  upload successful\n"
        "  1  bad arguments\n"
        "  2  the HEX file is missing, not a regular file, unreadable or invalid\n"
        "  3  the serial port cannot be opened or broke during the upload\n"
        "  4  no boot loader answered within the wait limit\n"
        "  5  upload abandoned: a block failed five times in a row\n"
        "  6  time-out: the boot loader stopped answering\n"
        "  7  upload not confirmed\n"
        "  8  interrupted (Ctrl-C, SIGTERM); a running upload still ends its transfer\n");
}

CliOptions parseCommandLine(const QStringList &arguments) {
    CliOptions o;
    const auto fail = [&o](const QString &why) {
        o.mode = CliOptions::Mode::Error;
        o.error = why;
        return o;
    };
    QCommandLineParser p;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("DEVICE"));
    const QCommandLineOption com(QStringLiteral("com"), QString(), QStringLiteral("N"));
    const QCommandLineOption file(QStringLiteral("file"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption yes(QStringLiteral("yes"), QString());
    const QCommandLineOption wait(QStringLiteral("wait"), QString(), QStringLiteral("SECONDS"));
    p.addOptions({help, version, port, com, file, yes, wait});
    if (!p.parse(arguments)) return fail(p.errorText());
    if (p.isSet(help)) {
        o.mode = CliOptions::Mode::Help;
        return o;
    }
    if (p.isSet(version)) {
        o.mode = CliOptions::Mode::Version;
        return o;
    }
    if (!p.positionalArguments().isEmpty())
        return fail(QStringLiteral("unknown argument '%1'").arg(p.positionalArguments().first()));
    bool uploadAsked = false;
    if (p.isSet(port)) {
        o.device = p.value(port);
        if (o.device.isEmpty()) return fail(QStringLiteral("--port needs a device"));
        uploadAsked = true;
    }
    for (const QString &v : p.values(com)) {
        if (v.contains(QLatin1Char('='))) {
            o.mappings << v;
            continue;
        }
        bool ok = false;
        o.com = v.toInt(&ok);
        if (!ok || o.com < 1 || o.com > 12)
            return fail(QStringLiteral("--com expects a port from 1 to 12, not '%1'").arg(v));
        uploadAsked = true;
    }
    if (p.isSet(file)) {
        o.file = p.value(file);
        if (o.file.isEmpty()) return fail(QStringLiteral("--file needs a HEX file"));
        uploadAsked = true;
    }
    if (p.isSet(yes)) {
        o.yes = true;
        uploadAsked = true;
    }
    if (p.isSet(wait)) {
        bool ok = false;
        o.waitSeconds = p.value(wait).toInt(&ok);
        if (!ok || o.waitSeconds < 1)
            return fail(QStringLiteral("--wait expects a number of seconds (1 or more)"));
        uploadAsked = true;
    }
    if (!uploadAsked) return o;
    if (o.file.isEmpty()) return fail(QStringLiteral("--file is required to upload"));
    if (o.device.isEmpty() == (o.com == 0))
        return fail(QStringLiteral("give the port with either --port DEVICE or --com N"));
    o.mode = CliOptions::Mode::Upload;
    return o;
}

namespace {

QString hex4(int v) {
    return QStringLiteral("0x") +
           QString::number(v, 16).rightJustified(4, QLatin1Char('0')).toUpper();
}

QString answerName(int answer) {
    if (answer == Upload::kNack) return QStringLiteral("NACK (block received wrong)");
    if (answer == Upload::kErFlash) return QStringLiteral("ERFLASH (flash write failed)");
    return QStringLiteral("unexpected answer 0x") +
           QString::number(answer, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// Progress on the terminal: a line every 2 KB and one per failed block.
class TerminalObserver : public UploadObserver {
  public:
    explicit TerminalObserver(QTextStream &out) : m_out(out) {}
    void setPanel(int, const QString &) override {}
    void started(int maximum) override {
        m_max = maximum;
        m_out << "Sending " << maximum << " bytes" << Qt::endl;
    }
    void progress(int address) override {
        if (address >= m_next) {
            m_out << "  " << hex4(address) << " / " << hex4(m_max) << "  ("
                  << (m_max > 0 ? 100 * address / m_max : 0) << " %)" << Qt::endl;
            m_next = address + 2048;
        }
    }
    void finished() override {}
    void blockFailed(int address, quint8 answer) override {
        m_out << "  block " << hex4(address) << ": " << answerName(answer) << ", sent again"
              << Qt::endl;
    }

  private:
    QTextStream &m_out;
    int m_max = 0;
    int m_next = 0;
};

} // namespace

int runUpload(BootLink &link, const CliOptions &options, QTextStream &out, QTextStream &err,
              const std::function<bool(const QString &)> &confirm,
              const std::function<void()> &beforePort) {
    BootImage image;
    firmware::LoadError error;
    if (!loadBootImage(options.file, image, &error)) {
        err << "sparlo: " << options.file << ": "
            << (error.unreadable ? QString() : QStringLiteral("not a valid HEX file: "))
            << error.englishText() << Qt::endl;
        return ExitBadFile;
    }
    out << "Loaded " << options.file << ": end address " << hex4(image.endAddress)
        << (image.endAddress > Upload::kLimit
                ? QStringLiteral(" (the upload stops at 0x7800, the boot loader's area)")
                : QString())
        << Qt::endl;
    const QString device = link.device();
    if (!options.yes &&
        !confirm(
            QStringLiteral("Upload %1 to the charger on %2? [y/N] ").arg(options.file, device))) {
        err << "sparlo: upload not confirmed (use --yes to skip the question)" << Qt::endl;
        return ExitCancelled;
    }
    if (beforePort) beforePort();

    QString reason;
    if (!link.openPort(&reason)) {
        err << "sparlo: cannot open the port " << reason << Qt::endl;
        return ExitPort;
    }
    out << "Waiting for the boot loader on " << device << " (reset the charger)..." << Qt::endl;
    const int maxProbes = options.waitSeconds * 1000 / BootLink::kProbeMs;
    const HandshakeResult h = link.handshake(
        [&out](int n) {
            if (n > 0 && n % 25 == 0) out << "  still waiting (" << n << " probes)" << Qt::endl;
        },
        maxProbes);
    switch (h) {
    case HandshakeResult::Connected:
        out << "Boot loader connected" << Qt::endl;
        break;
    case HandshakeResult::GaveUp:
        err << "sparlo: no boot loader answered on " << device << " within " << options.waitSeconds
            << " s" << Qt::endl;
        link.closePort();
        return ExitNoBootLoader;
    case HandshakeResult::Stopped:
        err << "sparlo: interrupted while waiting for the boot loader" << Qt::endl;
        link.closePort();
        return ExitInterrupted;
    case HandshakeResult::PortError:
    case HandshakeResult::Disconnected:
        err << "sparlo: port error: " << link.failReason() << Qt::endl;
        link.closePort();
        return ExitPort;
    }

    TerminalObserver observer(out);
    const UploadResult r = Upload::run(link, image.bytes, image.endAddress, observer);
    link.closePort();
    QString counts = QStringLiteral("%1 blocks sent, %2 communication errors, %3 flash errors")
                         .arg(r.blocksSent)
                         .arg(r.commErrors)
                         .arg(r.flashErrors);
    if (r.otherAnswers > 0) counts += QStringLiteral(", %1 unexpected answers").arg(r.otherAnswers);
    switch (r.outcome) {
    case UploadResult::Success:
        out << "Upload Successfull: " << counts << Qt::endl;
        return ExitOk;
    case UploadResult::Abandoned:
        err << "sparlo: Error in Upload at " << hex4(r.address) << ": the block was rejected "
            << Upload::kMaxFailures << " times in a row, last by " << answerName(r.lastAnswer)
            << " (" << counts << ")" << Qt::endl;
        return ExitAbandoned;
    case UploadResult::Timeout:
        err << "sparlo: Error in Upload at " << hex4(r.address) << ": no answer within "
            << link.answerTimeoutMs / 1000.0 << " s (" << counts << ")" << Qt::endl;
        return ExitTimeout;
    case UploadResult::Stopped:
        err << "sparlo: Error in Upload at " << hex4(r.address)
            << ": interrupted (the end sequence was sent; " << counts << ")" << Qt::endl;
        return ExitInterrupted;
    case UploadResult::PortFailed:
        break;
    }
    err << "sparlo: Error in Upload at " << hex4(r.address) << ": port error: " << link.failReason()
        << Qt::endl;
    return ExitPort;
}

} // namespace loader
