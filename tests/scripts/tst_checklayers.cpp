// scripts/check-layers: a folder that includes what its layer may not use fails the check
// with the file and line; allowed includes, system headers and comments pass.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QString output;
};

Run checkLayers(const QString &root) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"),
            {QStringLiteral(PELMORA_SOURCE_DIR "/scripts/check-layers"), root});
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll())};
}

bool write(const QString &path, const QByteArray &text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// Headers of every layer, so that includes of them resolve.
const char *const kHeaders[] = {
    "serial/byteport.h",   "link/commands.h",   "link/chargerlink.h", "charger/eeprommap.h",
    "firmware/heximage.h", "firmware/micro.h",  "modes/measure.h",    "sim/virtualcharger.h",
    "sim/simport.h",       "loader/bootlink.h", "ui/main/windows.h",
};

} // namespace

class TstCheckLayers : public QObject {
    Q_OBJECT
  private slots:
    void includes_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("include");
        QTest::addColumn<bool>("passes");
        const auto row = [](const char *name, const char *file, const char *include, bool ok) {
            QTest::newRow(name) << QString::fromLatin1(file) << QString::fromLatin1(include) << ok;
        };
        row("sim uses the command codes", "sim/a.cpp", "#include \"link/commands.h\"", true);
        row("sim uses the link", "sim/a.cpp", "#include \"link/chargerlink.h\"", false);
        row("sim uses a window", "sim/a.cpp", "#include \"modes/measure.h\"", false);
        row("sim core uses its port adapter", "sim/a.cpp", "#include \"simport.h\"", false);
        row("loader uses the HEX images", "loader/a.cpp", "#include \"firmware/heximage.h\"", true);
        row("loader uses the link", "loader/a.cpp", "#include \"link/chargerlink.h\"", false);
        row("HEX images use the link", "firmware/heximage.cpp", "#include \"link/chargerlink.h\"",
            false);
        row("the command codes use serial", "link/commands.h", "#include \"serial/byteport.h\"",
            false);
        row("charger uses the link", "charger/a.cpp", "#include \"link/chargerlink.h\"", false);
        row("modes use charger", "modes/a.cpp", "#include \"charger/eeprommap.h\"", true);
        row("a relative path", "sim/a.cpp", "#include \"../modes/measure.h\"", false);
        row("angle brackets", "sim/a.cpp", "#  include <modes/measure.h>", false);
        row("a commented include", "sim/a.cpp", "// #include \"modes/measure.h\"", true);
        row("the main window uses sparlo", "ui/main/a.cpp", "#include \"loader/bootlink.h\"",
            false);
        row("tests use anything", "tests/x/tst_a.cpp", "#include \"ui/main/windows.h\"", true);
        row("a folder outside the table", "docs/a.cpp", "#include <QString>", false);
    }
    void includes() {
        QFETCH(QString, file);
        QFETCH(QString, include);
        QFETCH(bool, passes);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const char *h : kHeaders)
            QVERIFY(write(dir.filePath(QString::fromLatin1(h)), "#pragma once\n"));
        QVERIFY(write(dir.filePath(file), "// first line\n" + include.toUtf8() + "\n"));
        const Run r = checkLayers(dir.path());
        QCOMPARE(r.exitCode, passes ? 0 : 1);
        if (!passes) QVERIFY2(r.output.startsWith(file + QLatin1Char(':')), qPrintable(r.output));
        if (!passes && file != QLatin1String("docs/a.cpp"))
            QVERIFY2(r.output.startsWith(file + QStringLiteral(":2: ")), qPrintable(r.output));
    }

    // The repository itself keeps to its layers.
    void repositoryPasses() {
        const Run r = checkLayers(QStringLiteral(PELMORA_SOURCE_DIR));
        QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    }
};

QTEST_GUILESS_MAIN(TstCheckLayers)
#include "tst_checklayers.moc"
