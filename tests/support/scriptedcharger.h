#pragma once

#include "link/commands.h"
#include "serial/byteport.h"
#include "sim/virtualcharger.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

// The charger of window and link tests, behind the byte-port interface. What it sends
// arrives on the event loop, never inside write(), as from a real port.
//
// Who answers, first that applies:
// - `mute`: nobody (a charger switched off); the bytes are still recorded;
// - `script`: whatever it returns for each write (raw bytes, any protocol);
// - `model`: the in-process virtual charger;
// - otherwise the reply kind the program expects for each command, with channel counts and
//   the clock taken from the fields below.
// Whoever answers, every byte written is kept in `written` and every complete command is
// recorded as "code,arg,..." (without the 27) in `commands`.
class ScriptedCharger : public serialio::BytePort {
    Q_OBJECT
  public:
    using Script = std::function<QByteArray(const QByteArray &written)>;

    explicit ScriptedCharger(QObject *parent = nullptr) : serialio::BytePort(parent) {}
    explicit ScriptedCharger(Script s, QObject *parent = nullptr)
        : serialio::BytePort(parent), script(std::move(s)) {}
    explicit ScriptedCharger(sim::VirtualCharger *m, QObject *parent = nullptr)
        : serialio::BytePort(parent) {
        setModel(m);
    }

    // A charger that hears and answers nothing (switched off, or not a charger at all).
    static ScriptedCharger *silent(QObject *parent = nullptr) {
        auto *c = new ScriptedCharger(parent);
        c->mute = true;
        return c;
    }

    // ---- The device ----
    bool openOk = true; // false: open() refuses, as a missing or busy device does
    int opens = 0;
    QString name = QStringLiteral("fake");
    bool mute = false;

    // ---- Answers ----
    Script script;
    QHash<int, QList<int>> counts; // per channel: counts for successive reads (last repeats)
    int clock = 1000;              // charger seconds
    int clockStep = 1;             // added after each clock read
    int replyDelayMs = 0;          // answers arrive after this delay
    QHash<int, int> dropReplies;   // code -> number of its next replies to swallow
    // Hours, minutes and seconds bytes of the next clock reads, before `clock` takes over.
    QList<QByteArray> clockReplies;
    std::function<void(const QString &)> onCommand;

    sim::VirtualCharger *model() const { return m_model; }
    void setModel(sim::VirtualCharger *m) {
        if (m_model) disconnect(m_model, nullptr, this, nullptr);
        m_model = m;
        if (!m) return;
        connect(m, &sim::VirtualCharger::transmit, this,
                [this](const QByteArray &reply) { deliver(reply, replyDelayMs); });
        connect(m, &sim::VirtualCharger::vanishRequested, this, &ScriptedCharger::vanish);
    }

    // Output paths as the commands left them (15 charge, 16 discharge, 17 power, 18 ground),
    // from the power-on state.
    QHash<int, int> outputs{{chlink::CMD_CUT_CHARGE, 0},
                            {chlink::CMD_CUT_DISCHARGE, 0},
                            {chlink::CMD_CUT_POWER, 0},
                            {chlink::CMD_GROUND_BAT, 1}};
    // Every output as "Arret" leaves it.
    bool outputsStopped() const {
        if (m_model)
            return !m_model->outputs.charge && !m_model->outputs.discharge &&
                   !m_model->outputs.power && m_model->outputs.ground;
        return outputs.value(chlink::CMD_CUT_CHARGE) == 0 &&
               outputs.value(chlink::CMD_CUT_DISCHARGE) == 0 &&
               outputs.value(chlink::CMD_CUT_POWER) == 0 &&
               outputs.value(chlink::CMD_GROUND_BAT) == 1;
    }

    // ---- What was received ----
    QByteArray written;
    QStringList commands;
    QStringList take() { return std::exchange(commands, {}); }

    // The commands of `written` as (code, address, the argument bytes after the address),
    // for the flash and EEPROM exchanges.
    struct Sent {
        int code;
        int address;
        QByteArray data;
    };
    QList<Sent> sent() const {
        QList<Sent> out;
        for (qsizetype i = 0; i + 1 < written.size();) {
            if (quint8(written[i]) != chlink::ESC) {
                ++i;
                continue;
            }
            const int code = quint8(written[i + 1]);
            const int args = qMax(0, chlink::commandShape(quint8(code)).args);
            if (i + 2 + args > written.size()) break;
            const int address =
                args >= 2 ? 256 * quint8(written[i + 2]) + quint8(written[i + 3]) : 0;
            out.append({code, address, written.mid(i + 4, qMax(0, args - 2))});
            i += 2 + args;
        }
        return out;
    }
    int count(int code) const {
        int n = 0;
        for (const Sent &s : sent())
            n += s.code == code;
        return n;
    }

    // ---- The port ----
    bool open(QString *reason) override {
        if (!openOk) {
            if (reason) *reason = deviceName() + QStringLiteral(" : refused");
            return false;
        }
        ++opens;
        m_open = true;
        m_rx.clear();
        return true;
    }
    void close() override {
        m_open = false;
        m_rx.clear();
    }
    bool isOpen() const override { return m_open; }
    void setBaudRate(int baud) override { m_baud = baud; }
    int baudRate() const override { return m_baud; }
    qint64 bytesAvailable() const override { return m_rx.size(); }
    int readByte() override {
        if (m_rx.isEmpty()) return -1;
        const int b = quint8(m_rx.at(0));
        m_rx.remove(0, 1);
        return b;
    }
    QString deviceName() const override { return name; }

    void write(const QByteArray &bytes) override {
        if (!m_open) return;
        written += bytes;
        for (char c : bytes)
            onByte(quint8(c));
        if (mute) return;
        if (script) {
            deliver(script(bytes));
        } else if (m_model) {
            // The charger works on the bytes after the write returns, as a real one would.
            const QPointer<sim::VirtualCharger> m = m_model;
            QTimer::singleShot(0, this, [m, bytes] {
                if (m) m->receive(bytes);
            });
        }
    }

    // Bytes from the device's side, after delayMs, on the event loop.
    void deliver(const QByteArray &bytes, int delayMs = 0) {
        if (bytes.isEmpty()) return;
        QTimer::singleShot(delayMs, this, [this, bytes] {
            if (!m_open) return;
            m_rx += bytes;
            emit readyRead();
        });
    }
    // The adapter is unplugged.
    void vanish() {
        if (!m_open) return;
        close();
        emit failed(deviceName() + QStringLiteral(" : device vanished"));
    }

  private:
    void onByte(quint8 b) {
        if (m_wanted == -1) { // waiting for ESC
            if (b == chlink::ESC) m_wanted = -2;
            return;
        }
        if (m_wanted == -2) { // the code
            m_code = b;
            m_args.clear();
            m_wanted = chlink::commandShape(b).args;
            if (m_wanted <= 0) finish();
            return;
        }
        m_args << b;
        if (int(m_args.size()) >= m_wanted) finish();
    }

    void finish() {
        m_wanted = -1;
        QStringList parts{QString::number(m_code)};
        for (int a : m_args)
            parts << QString::number(a);
        const QString cmd = parts.join(QLatin1Char(','));
        commands << cmd;
        if (outputs.contains(m_code) && !m_args.isEmpty()) outputs[m_code] = m_args.first();
        if (onCommand) onCommand(cmd);
        if (!mute && !script && !m_model) deliver(defaultReply(), replyDelayMs);
    }

    // The reply kind the program expects for the command just received.
    QByteArray defaultReply() {
        if (dropReplies.value(m_code) > 0) {
            --dropReplies[m_code];
            return {};
        }
        using namespace chlink;
        const CommandShape shape = commandShape(m_code);
        if (m_code == CMD_READ_CLOCK && !clockReplies.isEmpty())
            return QByteArray(1, char(ESC)) + clockReplies.takeFirst() + char(0);
        if (m_code == CMD_READ_CLOCK) {
            const int s = clock;
            clock += clockStep;
            return QByteArray(1, char(ESC)) + char(s / 3600 % 24) + char(s / 60 % 60) +
                   char(s % 60) + char(0);
        }
        if (shape.reply == Reply::Frame) {
            QList<int> &seq = counts[m_code];
            const int v = seq.isEmpty() ? 0 : seq.size() > 1 ? seq.takeFirst() : seq.first();
            return QByteArray(1, char(ESC)) + char((v >> 8) & 0xFF) + char(v & 0xFF) +
                   QByteArray(shape.frameBytes - 2, 0) + char(0);
        }
        if (shape.reply == Reply::AnswerByte) return QByteArray(1, char(m_code));
        if (shape.reply == Reply::Ack) return QByteArray(1, char(ACK));
        return {};
    }

    bool m_open = false;
    int m_baud = 9600;
    QByteArray m_rx;
    QPointer<sim::VirtualCharger> m_model;
    int m_wanted = -1;
    quint8 m_code = 0;
    QList<int> m_args;
};
