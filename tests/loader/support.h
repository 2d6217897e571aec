#pragma once

#include "fakebootloader.h"
#include "loader/bootlink.h"
#include "loader/upload.h"

#include <QPointer>
#include <QStringList>
#include <memory>

// A boot loader link on a fake boot loader.
struct FakeLink {
    QPointer<FakeBootLoader> fake;
    std::unique_ptr<loader::BootLink> link;

    FakeLink() {
        link = std::make_unique<loader::BootLink>(
            [this](const QString &) {
                fake = new FakeBootLoader;
                return static_cast<loader::BootPort *>(fake.data());
            },
            [](int n) { return QStringLiteral("fake%1").arg(n); });
        link->portSetup();
    }
};

// Records what an upload shows.
struct PanelRecorder : loader::UploadObserver {
    QString panels[5];
    QStringList panel2History;
    int maximum = -1;
    QList<int> progressValues;
    bool finishedSeen = false;
    void setPanel(int panel, const QString &text) override {
        panels[panel] = text;
        if (panel == 2) panel2History << text;
    }
    void started(int m) override { maximum = m; }
    void progress(int a) override { progressValues << a; }
    void finished() override { finishedSeen = true; }
};
