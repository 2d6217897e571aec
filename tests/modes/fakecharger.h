#pragma once

#include "link/commands.h"
#include "sim/virtualcharger.h"
#include "support/fakeport.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QTimer>
#include <functional>

// A scripted charger behind the byte-port interface: it answers every command with the
// reply kind the program expects, takes its channel counts and clock from the test, and
// records each command it received as "code,arg,..." (without the 27). With a model set,
// the virtual charger answers instead and the script only records and times the replies.
class FakeCharger : public FakePort {
    Q_OBJECT
  public:
    using FakePort::FakePort;

    // ---- Script ----
    QHash<int, QList<int>> counts; // per channel: counts for successive reads (last repeats)
    int clock = 1000;              // charger seconds
    int clockStep = 1;             // added after each clock read
    int replyDelayMs = 0;          // replies arrive after this delay
    QHash<int, int> dropReplies;   // code -> number of its next replies to swallow
    // Hours, minutes and seconds bytes of the next clock reads, before `clock` takes over.
    QList<QByteArray> clockReplies;
    std::function<void(const QString &)> onCommand;
    sim::VirtualCharger *model = nullptr;

    // ---- Output paths as the commands left them (15 charge, 16 discharge, 17 power, 18
    // ground), from the power-on state ----
    QHash<int, int> outputs{{chlink::CMD_CUT_CHARGE, 0},
                            {chlink::CMD_CUT_DISCHARGE, 0},
                            {chlink::CMD_CUT_POWER, 0},
                            {chlink::CMD_GROUND_BAT, 1}};
    // Every output as "Arret" leaves it.
    bool outputsStopped() const {
        if (model)
            return !model->outputs.charge && !model->outputs.discharge && !model->outputs.power &&
                   model->outputs.ground;
        return outputs.value(chlink::CMD_CUT_CHARGE) == 0 &&
               outputs.value(chlink::CMD_CUT_DISCHARGE) == 0 &&
               outputs.value(chlink::CMD_CUT_POWER) == 0 &&
               outputs.value(chlink::CMD_GROUND_BAT) == 1;
    }

    // ---- What was received ----
    QStringList commands;
    QStringList take() {
        QStringList c = commands;
        commands.clear();
        return c;
    }

    void write(const QByteArray &bytes) override {
        for (char c : bytes)
            onByte(quint8(c));
        if (!model) return;
        if (!m_modelConnected) {
            m_modelConnected = true;
            connect(model, &sim::VirtualCharger::transmit, this,
                    [this](const QByteArray &reply) { deliver(reply, replyDelayMs); });
        }
        model->receive(bytes);
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
        if (model) return;
        if (dropReplies.value(m_code) > 0) {
            --dropReplies[m_code];
            return;
        }
        using namespace chlink;
        const CommandShape shape = commandShape(m_code);
        QByteArray reply;
        if (m_code == CMD_READ_CLOCK && !clockReplies.isEmpty()) {
            reply = QByteArray(1, char(ESC)) + clockReplies.takeFirst() + char(0);
        } else if (m_code == CMD_READ_CLOCK) {
            const int s = clock;
            clock += clockStep;
            reply = QByteArray(1, char(ESC)) + char(s / 3600 % 24) + char(s / 60 % 60) +
                    char(s % 60) + char(0);
        } else if (shape.reply == Reply::Frame) {
            QList<int> &seq = counts[m_code];
            const int v = seq.isEmpty() ? 0 : seq.size() > 1 ? seq.takeFirst() : seq.first();
            reply = QByteArray(1, char(ESC)) + char((v >> 8) & 0xFF) + char(v & 0xFF);
            reply += QByteArray(shape.frameBytes - 2, 0) + char(0);
        } else if (shape.reply == Reply::AnswerByte) {
            reply = QByteArray(1, char(m_code));
        } else if (shape.reply == Reply::Ack) {
            reply = QByteArray(1, char(ACK));
        }
        deliver(reply, replyDelayMs);
    }

    bool m_modelConnected = false;
    int m_wanted = -1;
    quint8 m_code = 0;
    QList<int> m_args;
};
