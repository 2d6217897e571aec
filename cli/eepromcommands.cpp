#include "charger/eeprommap.h"
#include "commands.h"
#include "diag/eeprompoll.h"
#include "diag/esvfile.h"
#include "diag/exteeprlogic.h"
#include "diag/exteeprxfer.h"
#include "link/session.h"
#include "support.h"

#include <QCommandLineParser>
#include <QSaveFile>

namespace cli {

namespace {

namespace ext = diag::exteepr;

// The operands "save FILE" or "load FILE".
struct FileAction {
    int code = Ok;
    bool save = false;
    QString file;
};

FileAction fileAction(const QCommandLineParser &p, const QString &prefix, const QString &name,
                      QTextStream &err) {
    FileAction a;
    const QStringList args = p.positionalArguments();
    const auto usage = [&](const QString &why) {
        err << prefix << why << "\nTry 'pelmora " << name << " --help'.\n";
        a.code = Usage;
        return a;
    };
    if (args.size() != 2) return usage(QStringLiteral("expects save or load, then a file"));
    if (args.at(0) != QLatin1String("save") && args.at(0) != QLatin1String("load"))
        return usage(QStringLiteral("unknown action '%1' (save or load)").arg(args.at(0)));
    a.save = args.at(0) == QLatin1String("save");
    a.file = args.at(1);
    return a;
}

// Writes `bytes` all or nothing; refuses to replace a file that appeared since the check
// unless --force was given.
int saveAll(const QString &path, const QByteArray &bytes, bool force, const QString &prefix,
            QTextStream &err) {
    const int target = checkSaveTarget(path, force, prefix, err);
    if (target != Ok) return target;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        err << prefix << "cannot write " << path << ": " << f.errorString() << '\n';
        return BadFile;
    }
    return Ok;
}

// ---------------------------------------------------------------- internal EEPROM

const QString kEeprom = QStringLiteral("eeprom");
const QString kEepromPrefix = QStringLiteral("pelmora eeprom: ");

const QCommandLineOption &controllerOption() {
    static const QCommandLineOption o(QStringLiteral("controller"),
                                      QStringLiteral("The controller: master or slave."),
                                      QStringLiteral("master|slave"));
    return o;
}
const QCommandLineOption &forceOption() {
    static const QCommandLineOption o(
        QStringLiteral("force"),
        QStringLiteral("save: replace FILE when it exists (without it an existing file is "
                       "never touched)."));
    return o;
}

// 1 master, 2 slave, 0 after reporting a wrong value.
int controllerOf(const QCommandLineParser &p, QTextStream &err) {
    const QString v = p.value(controllerOption());
    if (v == QLatin1String("master")) return 1;
    if (v == QLatin1String("slave")) return 2;
    if (v.isEmpty())
        err << kEepromPrefix << "--controller master or --controller slave is required\n";
    else
        err << kEepromPrefix << "unknown controller '" << v << "' (master or slave)\n";
    err << "Try 'pelmora eeprom --help'.\n";
    return 0;
}

QString controllerName(int target) {
    return target == 1 ? QStringLiteral("master") : QStringLiteral("slave");
}

// The .ESV file read and checked whole; what is wrong said on `err`.
diag::EsvParse readEsv(const QString &path, QTextStream &err) {
    diag::EsvParse r;
    QByteArray bytes;
    QString why;
    if (!readSmallFile(path, diag::kEsvMaxBytes, &bytes, &why)) {
        err << kEepromPrefix << "cannot read " << path << ": " << why << '\n';
        return r;
    }
    r = diag::parseEsv(bytes);
    if (!r.ok)
        err << kEepromPrefix << path << " is not an EEPROM image (256 numbers 0..255): " << r.error
            << '\n';
    return r;
}

int eepromCheck(Bench &b, const QCommandLineParser &p) {
    const FileAction a = fileAction(p, kEepromPrefix, kEeprom, b.err);
    if (a.code != Ok) return a.code;
    if (!controllerOf(p, b.err)) return Usage;
    if (a.save) return checkSaveTarget(a.file, p.isSet(forceOption()), kEepromPrefix, b.err);
    return readEsv(a.file, b.err).ok ? int(Ok) : int(BadFile);
}

int eepromFailure(Bench &b, const diag::EeResult &r, chlink::Session s, bool write, int target) {
    if (r.interrupted) {
        b.err << kEepromPrefix << "interrupted at address " << r.address << '\n';
        return Interrupted;
    }
    b.err << kEepromPrefix << (write ? "writing" : "reading") << " the " << controllerName(target)
          << " EEPROM at address " << r.address << ": " << linkFailureText(s.error()) << '\n';
    return exitFor(s.error());
}

int eepromRun(Bench &b, const QCommandLineParser &p) {
    const FileAction a = fileAction(p, kEepromPrefix, kEeprom, b.err);
    const int target = controllerOf(p, b.err);
    if (a.code != Ok || !target) return Usage;
    chlink::Session s(*b.link);
    diag::EeProgress progress;
    progress.interrupted = b.interrupted;

    if (a.save) {
        QByteArray image(charger::kImageBytes, 0);
        ProgressLine line(b.err,
                          QStringLiteral("reading the %1 EEPROM").arg(controllerName(target)));
        progress.at = [&](int address) { line.show(address + 1, charger::kImageBytes); };
        const diag::EeResult r =
            diag::readEeprom(s, target, 0, charger::kImageBytes - 1, image, progress);
        line.clear();
        if (!r.ok) return eepromFailure(b, r, s, false, target);
        QString why;
        const int target2 = checkSaveTarget(a.file, p.isSet(forceOption()), kEepromPrefix, b.err);
        if (target2 != Ok) return target2;
        if (!diag::saveEsv(a.file, image, &why)) {
            b.err << kEepromPrefix << "cannot write " << a.file << ": " << why << '\n';
            return BadFile;
        }
        b.out << "Saved the " << controllerName(target) << " EEPROM (" << charger::kImageBytes
              << " bytes) to " << a.file;
        const QString ident = charger::identificationText(image);
        if (!ident.trimmed().isEmpty()) b.out << " (identification: " << ident.trimmed() << ')';
        b.out << '\n';
        return Ok;
    }

    const diag::EsvParse file = readEsv(a.file, b.err);
    if (!file.ok) return BadFile;
    // As the editor: addresses 0..191; the identification text belongs to the firmware.
    const int last = charger::kEditorWritten - 1;
    ProgressLine line(b.err, QStringLiteral("writing the %1 EEPROM").arg(controllerName(target)));
    progress.at = [&](int address) { line.show(address + 1, 2 * charger::kEditorWritten); };
    diag::EeResult r = diag::writeEeprom(s, target, 0, last, file.image, progress);
    if (!r.ok) {
        line.clear();
        const int code = eepromFailure(b, r, s, true, target);
        b.err << kEepromPrefix << "the " << controllerName(target) << " EEPROM ";
        if (r.address > 0)
            b.err << "is now partly written (addresses 0 to " << r.address - 1
                  << "); load the file again\n";
        else
            b.err << "is unchanged\n";
        return code;
    }
    progress.at = [&](int address) {
        line.show(charger::kEditorWritten + address + 1, 2 * charger::kEditorWritten);
    };
    r = diag::checkEeprom(s, target, 0, last, file.image, progress);
    line.clear();
    if (!r.ok) {
        b.err << kEepromPrefix << "written, but the check did not end\n";
        return eepromFailure(b, r, s, false, target);
    }
    if (!r.mismatches.isEmpty()) {
        b.err << kEepromPrefix << "check after writing: " << r.mismatches.size()
              << " byte(s) differ, the first at address " << r.mismatches.first() << '\n';
        return Failure;
    }
    s.table(target).replace(0, charger::kEditorWritten, file.image.left(charger::kEditorWritten));
    b.out << "Wrote addresses 0 to " << last << " of the " << controllerName(target)
          << " EEPROM from " << a.file << " and read them back (192 to 255, the "
          << "identification, are never written)\n";
    return Ok;
}

// ---------------------------------------------------------------- external EEPROMs

const QString kExt = QStringLiteral("ext-eeprom");
const QString kExtPrefix = QStringLiteral("pelmora ext-eeprom: ");

const QCommandLineOption &memoryOption() {
    static const QCommandLineOption o(
        QStringLiteral("memory"),
        QStringLiteral("The external EEPROM: 1 (the text records) or 2 (the charge programs)."),
        QStringLiteral("1|2"));
    return o;
}

// 1 or 2; 0 after reporting what is wrong (*code says how to exit).
int memoryOf(const QCommandLineParser &p, QTextStream &err, int *code) {
    const QString v = p.value(memoryOption());
    if (v == QLatin1String("1")) return ext::TextMemory;
    if (v == QLatin1String("2")) return ext::ProgramMemory;
    if (v.isEmpty()) {
        err << kExtPrefix << "--memory 1 or --memory 2 is required\nTry 'pelmora ext-eeprom "
            << "--help'.\n";
        *code = Usage;
    } else {
        err << kExtPrefix << "--memory " << v << " refused: the charger has memories 1 and 2\n";
        *code = Refused;
    }
    return 0;
}

// The bytes a file asks to write, or the exit code with the reason said.
struct PlannedWrites {
    int code = Ok;
    QVector<ext::Write> writes;
};

PlannedWrites plannedWrites(const QString &path, int memory, QTextStream &err) {
    PlannedWrites w;
    QByteArray bytes;
    QString why;
    if (!readSmallFile(path, ext::kMaxFileBytes, &bytes, &why)) {
        err << kExtPrefix << "cannot read " << path << ": " << why << '\n';
        w.code = BadFile;
        return w;
    }
    const ext::FileLoad load =
        memory == ext::TextMemory ? ext::parseTextsFile(bytes) : ext::parseLibraryFile(bytes);
    if (!load.error.isEmpty()) {
        err << kExtPrefix << path << " is not a file of " << ext::memoryName(memory) << ": "
            << load.error << '\n';
        w.code = BadFile;
        return w;
    }
    if (memory == ext::TextMemory) {
        for (int r = 0; r < load.texts.size(); ++r)
            if (const auto c = ext::unwritableChar(load.texts.at(r))) {
                err << kExtPrefix << path << ": record " << r << " holds '" << *c
                    << "', which one byte cannot hold\n";
                w.code = BadFile;
                return w;
            }
        w.writes = ext::textWrites(load.texts);
        return w;
    }
    ext::LibraryWrites lw = ext::libraryWrites(load.library);
    if (!lw.error.isEmpty()) {
        err << kExtPrefix << path << ": " << lw.error << '\n';
        w.code = BadFile;
        return w;
    }
    w.writes = std::move(lw.writes);
    return w;
}

int extCheck(Bench &b, const QCommandLineParser &p) {
    const FileAction a = fileAction(p, kExtPrefix, kExt, b.err);
    if (a.code != Ok) return a.code;
    int code = Ok;
    const int memory = memoryOf(p, b.err, &code);
    if (!memory) return code;
    if (a.save) return checkSaveTarget(a.file, p.isSet(forceOption()), kExtPrefix, b.err);
    return plannedWrites(a.file, memory, b.err).code;
}

int extFailure(Bench &b, const ext::TransferResult &r, bool write, int memory) {
    if (r.stopped) {
        b.err << kExtPrefix << "interrupted at address " << r.address;
        if (write)
            b.err << "; " << ext::memoryName(memory) << " is partly written (" << r.done << " of "
                  << r.total << " bytes), load the file again";
        b.err << '\n';
        return Interrupted;
    }
    b.err << kExtPrefix << (write ? "writing " : "reading ") << ext::memoryName(memory)
          << " at address " << r.address << ": " << linkFailureText(r.linkError) << '\n';
    if (write)
        b.err << kExtPrefix << ext::memoryName(memory) << " is partly written (" << r.done << " of "
              << r.total << " bytes); load the file again\n";
    return exitFor(r.linkError);
}

int extRun(Bench &b, const QCommandLineParser &p) {
    const FileAction a = fileAction(p, kExtPrefix, kExt, b.err);
    int code = Ok;
    const int memory = memoryOf(p, b.err, &code);
    if (a.code != Ok) return a.code;
    if (!memory) return code;
    chlink::Session s(*b.link);
    const QString name = ext::memoryName(memory);

    if (a.save) {
        QByteArray bytes;
        ProgressLine line(b.err, QStringLiteral("reading ") + name);
        ext::TransferProgress progress;
        progress.step = [&](int, int done) { line.show(done, ext::kMemoryBytes); };
        progress.stopRequested = b.interrupted;
        const ext::TransferResult r = ext::readMemory(s, memory, &bytes, progress);
        line.clear();
        if (!r.ok) return extFailure(b, r, false, memory);
        const ext::FileText text = memory == ext::TextMemory
                                       ? ext::textsFile(ext::textsFromMemory(bytes))
                                       : ext::libraryFile(ext::libraryFromMemory(bytes));
        if (!text.error.isEmpty()) {
            b.err << kExtPrefix << name << " cannot be saved as text: " << text.error << '\n';
            return Failure;
        }
        const int saved = saveAll(a.file, text.bytes, p.isSet(forceOption()), kExtPrefix, b.err);
        if (saved != Ok) return saved;
        b.out << "Saved " << name << " (" << ext::kMemoryBytes << " bytes) to " << a.file << '\n';
        return Ok;
    }

    const PlannedWrites w = plannedWrites(a.file, memory, b.err);
    if (w.code != Ok) return w.code;
    ProgressLine line(b.err, QStringLiteral("writing ") + name);
    ext::TransferProgress progress;
    const int total = int(w.writes.size());
    progress.step = [&](int, int done) { line.show(done, total); };
    progress.stopRequested = b.interrupted;
    const ext::TransferResult r = ext::writeMemory(s, memory, w.writes, progress);
    line.clear();
    if (!r.ok) return extFailure(b, r, true, memory);
    b.out << "Wrote " << name << " from " << a.file << " (" << r.done << " bytes)\n";
    return Ok;
}

} // namespace

Command eepromCommand() {
    Command c;
    c.name = kEeprom;
    c.summary = QStringLiteral("Save a controller's internal EEPROM to an .ESV file, or load "
                               "one into it.");
    c.addOptions = [](QCommandLineParser &p) {
        p.addOption(controllerOption());
        p.addOption(forceOption());
        p.addPositionalArgument(QStringLiteral("action"),
                                QStringLiteral("save (charger to FILE) or load (FILE to "
                                               "charger: addresses 0..191, then read back)."));
        p.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The .ESV file."));
    };
    c.check = eepromCheck;
    c.run = eepromRun;
    return c;
}

Command extEepromCommand() {
    Command c;
    c.name = kExt;
    c.summary = QStringLiteral("Save an external EEPROM to a file, or load one into it.");
    c.addOptions = [](QCommandLineParser &p) {
        p.addOption(memoryOption());
        p.addOption(forceOption());
        p.addPositionalArgument(QStringLiteral("action"),
                                QStringLiteral("save (charger to FILE) or load (FILE to "
                                               "charger)."));
        p.addPositionalArgument(QStringLiteral("file"),
                                QStringLiteral("The file, as the external EEPROM editor "
                                               "writes it."));
    };
    c.check = extCheck;
    c.run = extRun;
    return c;
}

} // namespace cli
