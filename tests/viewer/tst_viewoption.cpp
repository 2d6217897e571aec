// How the viewer is reached: `pelmora --view FILE...` and the main window's menu entry.
#include "link/chargerlink.h"
#include "serial/commap.h"
#include "serial/serialport.h"
#include "ui/main/app.h"
#include "ui/main/mainwindow.h"
#include "winkit/windowregistry.h"

#include <QAction>
#include <QtTest>

Q_DECLARE_METATYPE(PelmoraOptions::Action)

class TestViewOption : public QObject {
    Q_OBJECT
  private slots:
    void parsesView_data();
    void parsesView();
    void menuOpensViewerWithoutConnection();
};

void TestViewOption::parsesView_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<PelmoraOptions::Action>("action");
    QTest::addColumn<bool>("view");
    QTest::addColumn<QStringList>("files");
    using A = PelmoraOptions::Action;
    QTest::newRow("files") << QStringList{"pelmora", "--view", "a.txt", "b.txt"} << A::Run << true
                           << QStringList{"a.txt", "b.txt"};
    QTest::newRow("files first") << QStringList{"pelmora", "a.txt", "--view"} << A::Run << true
                                 << QStringList{"a.txt"};
    QTest::newRow("no file: an empty viewer")
        << QStringList{"pelmora", "--view"} << A::Run << true << QStringList{};
    QTest::newRow("a file without --view")
        << QStringList{"pelmora", "a.txt"} << A::Error << false << QStringList{};
    QTest::newRow("plain") << QStringList{"pelmora"} << A::Run << false << QStringList{};
}

void TestViewOption::parsesView() {
    QFETCH(QStringList, args);
    QFETCH(PelmoraOptions::Action, action);
    QFETCH(bool, view);
    QFETCH(QStringList, files);
    const PelmoraOptions o = parseOptions(args);
    QCOMPARE(o.action, action);
    if (action != PelmoraOptions::Action::Run) return;
    QCOMPARE(o.view, view);
    QCOMPARE(o.viewFiles, files);
    // The help is read before any application object exists: it still names the program.
    const QString help = parseOptions({"pelmora", "--help"}).message;
    QVERIFY(help.contains(QStringLiteral("--view")));
    QVERIFY2(help.startsWith(QStringLiteral("Usage: pelmora ")), qPrintable(help));
}

void TestViewOption::menuOpensViewerWithoutConnection() {
    serialio::ComMap ports(4);
    chlink::ChargerLink link([](const QString &d) { return new chlink::SerialBytePort(d); },
                             [](int) { return QStringLiteral("/nonexistent/tty"); });
    Main main(link, ports);
    registerWindows(main.registry());
    auto *entry = main.findChild<QAction *>(QStringLiteral("MnuVisionneuse"));
    QVERIFY(entry);
    entry->trigger();
    auto *w = main.registry().openWindow(QStringLiteral("Visionneuse"));
    QVERIFY(w);
    QCOMPARE(w->objectName(), QStringLiteral("Visionneuse"));
    QVERIFY(w->isVisible());
    w->close();
}

QTEST_MAIN(TestViewOption)
#include "tst_viewoption.moc"
