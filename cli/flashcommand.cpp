#include "commands.h"
#include "firmware/flashtransfer.h"
#include "firmware/heximage.h"
#include "link/session.h"
#include "support.h"

#include <QCommandLineParser>

namespace cli {

namespace {

const QString kPrefix = QStringLiteral("pelmora flash: ");

const QCommandLineOption &yesOption() {
    static const QCommandLineOption o(
        QStringLiteral("yes"),
        QStringLiteral("Confirm the write (the window's \"Confirmer chargement\" question); "
                       "without it nothing is written."));
    return o;
}
const QCommandLineOption &yesProtectedOption() {
    static const QCommandLineOption o(
        QStringLiteral("yes-protected"),
        QStringLiteral("slave: also confirm changes in the protected zone (words 6144 and "
                       "up); without it such a file is refused."));
    return o;
}

// The file loaded and checked into the image of its controller.
struct Loaded {
    int code = Ok;
    int target = 0; // 1 master, 2 slave
    QString file;
    QByteArray master;
    QVector<quint16> slave;
    int lastWord = 0;
};

Loaded load(const QCommandLineParser &p, QTextStream &err) {
    Loaded l;
    const QStringList args = p.positionalArguments();
    const auto usage = [&](const QString &why) {
        err << kPrefix << why << "\nTry 'pelmora flash --help'.\n";
        l.code = Usage;
        return l;
    };
    if (args.size() != 2) return usage(QStringLiteral("expects master or slave, then a HEX file"));
    if (args.at(0) == QLatin1String("master"))
        l.target = 1;
    else if (args.at(0) == QLatin1String("slave"))
        l.target = 2;
    else
        return usage(QStringLiteral("unknown controller '%1' (master or slave)").arg(args.at(0)));
    l.file = args.at(1);

    QByteArray text;
    firmware::LoadError why;
    const auto bad = [&](const QString &reason) {
        err << kPrefix << l.file << ": " << reason << '\n';
        l.code = BadFile;
        return l;
    };
    if (!firmware::readHexFile(l.file, &text, &why)) return bad(why.englishText());
    if (l.target == 1) {
        const firmware::ByteImageLoad m = firmware::loadMasterImage(text);
        if (!m.ok) return bad(m.error.englishText());
        // A file whose data all lie below the written range would only erase it with 0xFF.
        if (firmware::masterDataExtent(text, firmware::kMasterWriteFirst,
                                       firmware::kMasterImageSize)
                .count == 0) {
            const firmware::DataExtent all = firmware::masterDataExtent(text);
            return bad(QStringLiteral("no data between %1 and %2, the part of the master flash "
                                      "that is written (the file's data lie from %3 to %4)")
                           .arg(firmware::hexAddress(firmware::kMasterWriteFirst),
                                firmware::hexAddress(firmware::kMasterImageSize - 1),
                                firmware::hexAddress(all.first), firmware::hexAddress(all.last)));
        }
        l.master = m.image;
    } else {
        const firmware::SlaveImageLoad s = firmware::loadSlaveImage(text);
        if (!s.ok) return bad(s.error.englishText());
        l.slave = s.words;
        // The read-back and the comparison cover the file's words and the one after them.
        l.lastWord = qMin(s.lastAddress, firmware::kSlaveWords - 1);
    }
    return l;
}

int flashCheck(Bench &b, const QCommandLineParser &p) {
    const Loaded l = load(p, b.err);
    if (l.code != Ok) return l.code;
    // The master's question comes before anything is sent: ask it now.
    if (l.target == 1 && !p.isSet(yesOption())) {
        b.err << kPrefix << "writing the master flash (448 blocks from 0x1000) needs "
              << "confirmation: add --yes (nothing was sent)\n";
        return Refused;
    }
    return Ok;
}

// What a transfer that did not end leaves behind, and its exit code.
int stopped(Bench &b, const firmware::FlashResult &r) {
    const QString what = r.transfer == firmware::Transfer::MasterWrite ? QStringLiteral("block")
                                                                       : QStringLiteral("word");
    b.err << kPrefix;
    if (r.stopped)
        b.err << "interrupted";
    else if (r.refusal >= 0)
        b.err << "the charger refused the " << what << " at " << firmware::hexAddress(r.address)
              << " (answer " << r.refusal << " instead of 6)";
    else
        b.err << "at " << firmware::hexAddress(r.address) << ": " << linkFailureText(r.linkError);
    b.err << '\n' << kPrefix;
    switch (r.transfer) {
    case firmware::Transfer::ReadBack:
        b.err << "nothing was written: the " << (r.target == 1 ? "master" : "slave")
              << " flash is unchanged\n";
        break;
    case firmware::Transfer::MasterWrite:
        b.err << "the master flash is now partly written (" << r.done << " of " << r.total
              << " blocks); flash it again before using the charger\n";
        break;
    case firmware::Transfer::SlaveWrite:
        b.err << "the slave flash is now partly written (" << r.done << " of " << r.total
              << " words); flash it again before using the charger\n";
        break;
    case firmware::Transfer::Verify:
        b.err << "the " << r.total << " words are written but the check did not end\n";
        break;
    }
    if (r.stopped) return Interrupted;
    if (r.refusal >= 0) return Refused;
    return exitFor(r.linkError);
}

int flashRun(Bench &b, const QCommandLineParser &p) {
    const Loaded l = load(p, b.err);
    if (l.code != Ok) return l.code;
    chlink::Session s(*b.link);
    s.setTargetSelector(l.target);
    firmware::FlashProgress progress;
    progress.stopRequested = b.interrupted;

    if (l.target == 1) {
        if (!p.isSet(yesOption())) return Refused; // flashCheck said why
        ProgressLine line(b.err, QStringLiteral("writing the master flash (bytes)"));
        progress.bar = [&](int a) {
            line.show(a - firmware::kMasterWriteFirst,
                      firmware::kMasterImageSize - firmware::kMasterWriteFirst);
        };
        const firmware::FlashResult r = firmware::writeMasterFlash(s, l.master, progress);
        line.clear();
        if (!r.ok) return stopped(b, r);
        b.out << "Master flash written from " << l.file << ": " << r.done << " blocks\n";
        return Ok;
    }

    QVector<quint16> readBack;
    firmware::FlashResult r;
    {
        ProgressLine line(b.err, QStringLiteral("reading the slave flash (words)"));
        progress.bar = [&](int i) { line.show(i + 1, l.lastWord + 1); };
        r = firmware::readFlash(s, 2, l.lastWord, &readBack, progress);
    }
    if (!r.ok) return stopped(b, r);
    QVector<quint16> full(firmware::kSlaveWords, firmware::kSlaveErased);
    std::copy(readBack.begin(), readBack.end(), full.begin());
    const firmware::SlaveDiff diff = firmware::compareSlave(l.slave, full, l.lastWord);
    if (diff.count == 0) {
        b.out << "No change detected: the slave flash already holds " << l.file << '\n';
        return Ok;
    }
    b.out << diff.count << " word(s) differ from " << l.file;
    if (diff.protectedCount)
        b.out << ", " << diff.protectedCount << " of them in the protected zone (words "
              << firmware::kSlaveProtectedFirst << " and up)";
    b.out << '\n';
    b.out.flush();
    if (diff.protectedCount && !p.isSet(yesProtectedOption())) {
        b.err << kPrefix << diff.protectedCount << " change(s) in the protected zone: add "
              << "--yes-protected (and --yes) to write them (nothing was written)\n";
        return Refused;
    }
    if (!p.isSet(yesOption())) {
        b.err << kPrefix << "writing " << diff.count << " word(s) of the slave flash needs "
              << "confirmation: add --yes (nothing was written)\n";
        return Refused;
    }
    {
        ProgressLine line(b.err, QStringLiteral("writing the slave flash (words)"));
        int done = 0;
        progress.bar = {};
        progress.info = [&](const QString &) { line.show(++done, diff.count); };
        r = firmware::writeSlaveFlash(s, l.slave, diff.changed, progress);
    }
    if (!r.ok) return stopped(b, r);
    progress.info = {};
    const firmware::VerifyResult v = firmware::verifySlaveFlash(s, l.slave, diff.changed, progress);
    if (!v.read.ok) return stopped(b, v.read);
    if (v.mismatches != 0) {
        b.err << kPrefix << "check after writing: " << v.mismatches
              << " word(s) differ, the first at " << firmware::hexAddress(v.firstMismatch) << '\n';
        return Failure;
    }
    b.out << "Slave flash written from " << l.file << " and checked: " << diff.count
          << " word(s)\n";
    return Ok;
}

} // namespace

Command flashCommand() {
    Command c;
    c.name = QStringLiteral("flash");
    c.summary = QStringLiteral("Write a HEX file into the master's or the slave's flash.");
    c.addOptions = [](QCommandLineParser &p) {
        p.addOption(yesOption());
        p.addOption(yesProtectedOption());
        p.addPositionalArgument(QStringLiteral("controller"),
                                QStringLiteral("master (448 blocks from 0x1000) or slave "
                                               "(read back, then only the words that "
                                               "differ)."));
        p.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The Intel HEX file."));
    };
    c.check = flashCheck;
    c.run = flashRun;
    return c;
}

} // namespace cli
