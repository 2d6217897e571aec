#include "monilogic.h"

#include "link/numtext.h"
#include "runlog.h"

#include <QStringList>
#include <utility>

namespace modes::moni {

Record decode(const QByteArray &bytes) {
    // b(1) is the first byte after the line feed, as the record's table counts them.
    const auto b = [&bytes](int i) { return i <= bytes.size() ? int(quint8(bytes.at(i - 1))) : 0; };
    const auto word = [&b](int i) { return 256 * b(i) + b(i + 1); };
    Record r;
    r.prompt = char(b(1));
    r.echantillon = word(2);
    r.temps = 3600 * b(4) + 60 * b(5) + b(6);
    r.separator = char(b(7));
    r.vbat = word(8);
    r.cour = word(10);
    r.temper = word(12);
    r.vdelta = word(14);
    r.resist = b(17);
    r.capacite = int(qint16(quint16(word(18))));
    r.type = b(20);
    r.cdv = b(21);
    r.valim = word(22);
    r.vdbl = word(24);
    r.vmoy = word(26);
    r.maxidv = word(28);
    return r;
}

QString logHeader() {
    return QStringLiteral("Prompt,Echantillon,Temps,=,VBat,Cour,Temper,") +
           QStringLiteral("Vdelta,Resist,Capacité,Type,CDV,Valim,Vdbl,") +
           QStringLiteral("Vmoy,Maxidv");
}

QString logLine(const Record &r) {
    // A control byte or a comma as the prompt would split the line or shift its columns: it
    // is written as '?'.
    const quint8 p = quint8(r.prompt);
    const QChar prompt =
        (p < 32 || p == 127 || p == ',') ? QLatin1Char('?') : QChar::fromLatin1(char(p));
    QStringList cols{QString(prompt), chlink::logText(r.echantillon), chlink::logText(r.temps),
                     QStringLiteral("=")};
    for (int v : {r.vbat, r.cour, r.temper, r.vdelta, r.resist, r.capacite, r.type, r.cdv, r.valim,
                  r.vdbl, r.vmoy, r.maxidv})
        cols << chlink::logText(v);
    return cols.join(QLatin1Char(','));
}

QString logFileName(const QDateTime &start) {
    return modes::logFileName(QLatin1String(kLogPrefix), start);
}

std::optional<Record> RecordSync::feed(quint8 byte) {
    if (!m_synced) {
        m_synced = byte == kLineFeed;
        return std::nullopt;
    }
    m_bytes.append(char(byte));
    if (m_bytes.size() < kRecordBytes) return std::nullopt;
    const QByteArray bytes = std::exchange(m_bytes, {});
    m_synced = false;
    if (bytes.at(6) == '=') return decode(bytes);
    // The line feed was a data byte: the record starts at a later one among these bytes.
    ++m_rejected;
    const qsizetype next = bytes.indexOf(char(kLineFeed));
    if (next >= 0) {
        m_synced = true;
        m_bytes = bytes.mid(next + 1);
    }
    return std::nullopt;
}

std::optional<ChartPoint> ChartTally::add(const Record &r) {
    ++m_counter;
    ++m_total;
    m_sumVbat += r.vbat;
    m_sumCour += r.cour;
    std::optional<ChartPoint> point;
    if (m_counter == kRecordsPerPoint) {
        ChartPoint p;
        p.row = m_total / kRecordsPerPoint;
        p.seconds = r.temps;
        p.vbat = m_sumVbat / kRecordsPerPoint;
        p.cour = m_sumCour / kRecordsPerPoint;
        // The type read so far is the one of the record before this one.
        p.thirdIsCapacity = m_lastType == kCapacityType;
        p.third = p.thirdIsCapacity ? r.capacite / 10.0 : double(r.temper);
        m_sumVbat = m_sumCour = 0;
        m_counter = 0;
        point = p;
    }
    m_lastType = r.type;
    m_captionNow = !m_captionDone && r.type == kCapacityType;
    if (m_captionNow) m_captionDone = true;
    return point;
}

} // namespace modes::moni
