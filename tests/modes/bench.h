#pragma once

#include "fakecharger.h"
#include "link/chargerlink.h"
#include "link/host.h"
#include "link/messages.h"
#include "modes/runlog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

// A link to a scripted charger, calibration tables, a stand-in main window, message boxes
// answered into a list, and logs written to a temporary folder.
struct Bench {
    QTemporaryDir dir;
    std::unique_ptr<sim::VirtualCharger> model; // declared first: outlives the link
    FakeCharger *fake = nullptr;
    std::unique_ptr<chlink::ChargerLink> link;
    QWidget main;
    int mainTimersStopped = 0;
    chlink::Host host;
    QStringList boxes;

    Bench() {
        link = std::make_unique<chlink::ChargerLink>(
            [this](const QString &) {
                fake = new FakeCharger;
                return fake;
            },
            [](int) { return QStringLiteral("fake"); });
        link->portSetup();
        link->openPort();
        link->reconnectOnActivate = 1;
        link->setReplyTimeout(300); // time-out tests need not wait three seconds
        calibrate();
        host.link = link.get();
        host.main = &main;
        host.stopMainTimers = [this] { ++mainTimersStopped; };
        chlink::setBoxHook([this](const chlink::BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        QDir::setCurrent(dir.path());
        modes::keepCurrentFolder();
        main.show();
    }
    ~Bench() {
        chlink::setBoxHook(nullptr);
        QDir::setCurrent(QDir::tempPath());
    }

    // Calibration: words of 1024 make volts and amperes count / 100.
    void calibrate() {
        setWord(link->tableA, 9, 1024);  // VALIM
        setWord(link->tableA, 11, 1024); // VDBL
        setWord(link->tableA, 0, 1024);  // temperature gain
        setWord(link->tableA, 2, 600);   // temperature offset
        setWord(link->tableB, 0, 1024);  // ICHRG
        setWord(link->tableB, 2, 1024);  // IDECH
        link->tableB[4] = char(100);     // charge setpoint divisor
        link->tableB[5] = char(50);      // discharge setpoint divisor
        setWord(link->tableB, 6, 1024);  // VBAT
    }

    // The in-process virtual charger answers from now on; the fake still records.
    sim::VirtualCharger &useModel() {
        model = std::make_unique<sim::VirtualCharger>();
        fake->model = model.get();
        return *model;
    }

    static void setWord(QByteArray &t, int i, int w) {
        t[i] = char(w >> 8);
        t[i + 1] = char(w & 0xFF);
    }

    // The lines of a log file, without their CR LF.
    static QStringList lines(const QString &path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return {};
        const QByteArray all = f.readAll();
        QStringList l = QString::fromUtf8(all).split(QStringLiteral("\r\n"));
        if (!l.isEmpty() && l.last().isEmpty()) l.removeLast();
        return l;
    }
};
