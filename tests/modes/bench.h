#pragma once

#include "charger/eeprommap.h"
#include "link/chargerlink.h"
#include "link/messages.h"
#include "link/session.h"
#include "modes/register.h"
#include "modes/runlog.h"
#include "support/scriptedcharger.h"
#include "winkit/windowregistry.h"

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
    ScriptedCharger *fake = nullptr;
    std::unique_ptr<chlink::ChargerLink> link;
    QWidget main;
    int mainTimersStopped = 0;
    QStringList boxes;
    // The mode windows registered as the program registers them, opened from `main`.
    std::unique_ptr<chlink::Session> session;
    std::unique_ptr<winkit::WindowRegistry> registry;
    // What the registry gives a mode window opened from `main`, for tests that build one
    // themselves (and call load() when they want it shown).
    winkit::Host host;

    Bench() {
        link = std::make_unique<chlink::ChargerLink>(
            [this](const QString &) {
                fake = new ScriptedCharger;
                return fake;
            },
            [](int) { return QStringLiteral("fake"); });
        link->portSetup();
        link->openPort();
        link->reconnectOnActivate = 1;
        link->setReplyTimeout(300); // time-out tests need not wait three seconds
        calibrate();
        session = std::make_unique<chlink::Session>(*link);
        registry = std::make_unique<winkit::WindowRegistry>(session.get());
        host.session = session.get();
        host.registry = registry.get();
        host.opener = &main;
        host.hidesOpener = true;
        host.stopMainTimers = [this] { ++mainTimersStopped; };
        registry->setMainTimersStopper(host.stopMainTimers);
        modes::registerWindows(*registry);
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
        using namespace charger;
        setValue(link->tableA, master::kSupplyDivisor, 1024);
        setValue(link->tableA, master::kDoublerDivisor, 1024);
        setValue(link->tableA, master::kTempSlope, 1024);
        setValue(link->tableA, master::kTempOffset, 600);
        setValue(link->tableB, slave::kChargeDivisor, 1024);
        setValue(link->tableB, slave::kDischargeDivisor, 1024);
        setValue(link->tableB, slave::kPotCharge, 100);
        setValue(link->tableB, slave::kPotDischarge, 50);
        setValue(link->tableB, slave::kBatteryDivisor, 1024);
    }

    // The in-process virtual charger answers from now on; the fake still records.
    sim::VirtualCharger &useModel() {
        model = std::make_unique<sim::VirtualCharger>();
        fake->setModel(model.get());
        return *model;
    }

    static void setWord(QByteArray &t, int i, int w) { charger::setWord(t, i, w); }

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
