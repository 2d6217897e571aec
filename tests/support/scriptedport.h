#pragma once

#include "fakeport.h"

#include <functional>

// A device that answers each write with what the script returns for it. Records
// everything written.
class ScriptedPort : public FakePort {
    Q_OBJECT
  public:
    using Script = std::function<QByteArray(const QByteArray &written)>;

    explicit ScriptedPort(Script script = {}, QObject *parent = nullptr)
        : FakePort(parent), script(std::move(script)) {}

    Script script;
    QByteArray written;

    void write(const QByteArray &bytes) override {
        if (!m_open) return;
        written += bytes;
        if (script) deliver(script(bytes));
    }
    QString deviceName() const override { return QStringLiteral("scripted"); }
};
