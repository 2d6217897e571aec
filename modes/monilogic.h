#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The monitor stream of the charger's own run: its 29-byte records, found in the byte
// stream after their line feed, decoded, written to the comma-separated log, and reduced to
// one chart point every ten records.
namespace modes::moni {

inline constexpr int kStreamBaud = 19200; // the charger streams its records at this speed
inline constexpr quint8 kLineFeed = 10;   // every record follows one
inline constexpr int kRecordBytes = 29;
inline constexpr int kRecordsPerPoint = 10;
inline constexpr int kCapacityType = 2; // a record whose third series is the capacity
inline constexpr const char *kLogPrefix = "MOni_CHrg";

// One record, raw numbers as sent (no calibration).
struct Record {
    char prompt = 0; // byte 1
    int echantillon = 0;
    int temps = 0; // seconds: 3600 * hours + 60 * minutes + seconds
    int vbat = 0, cour = 0, temper = 0, vdelta = 0;
    int resist = 0;   // byte 17 (byte 16 is not used)
    int capacite = 0; // bytes 18-19 as a signed 16-bit number
    int type = 0;
    int cdv = 0;
    int valim = 0, vdbl = 0, vmoy = 0, maxidv = 0;
    char separator = '='; // byte 7
};

// Decodes the 29 bytes that follow a line feed (fewer: the missing ones read 0).
Record decode(const QByteArray &bytes);

// "Prompt,Echantillon,...,Maxidv".
QString logHeader();
// The record's log line without its CR LF: the prompt's character, "=", every other value in
// the log number form, each followed by "," but the last.
QString logLine(const Record &r);
// "MOni_CHrg_D12_09_26T08_30.txt".
QString logFileName(const QDateTime &start);

// Finds the records in the byte stream. Bytes before the first line feed belong to a record
// whose start was missed and are skipped; the 29 bytes after a line feed are a record. A
// line feed that is really a data byte (the stream was joined in the middle of a record)
// gives bytes whose seventh is not '=': they are no record, and the search for the line
// feed starts again just after the false one, so that the true record inside them is not
// lost.
class RecordSync {
  public:
    // One byte of the stream; the record it completes, if any.
    std::optional<Record> feed(quint8 byte);
    // Candidates that were not records (a false line feed).
    int rejected() const { return m_rejected; }
    // Inside a record (a line feed seen, not all of its bytes yet).
    bool midRecord() const { return m_synced; }

  private:
    QByteArray m_bytes; // after the line feed
    bool m_synced = false;
    int m_rejected = 0;
};

// A chart point: the row, the charger's time of the record that made it, the means of the
// battery and current counts over the ten records, and the third series: the temperature
// count, or the capacity / 10 when the record before was of type 2.
struct ChartPoint {
    int row = 0;
    int seconds = 0;
    double vbat = 0;
    double cour = 0;
    double third = 0;
    bool thirdIsCapacity = false;
};

// The plotting rule: one point for every tenth record.
class ChartTally {
  public:
    // A new listening run: counters, sums and row back to 0. The last type and the caption
    // change start again too (a new run's chart is a new chart).
    void reset() { *this = ChartTally(); }
    // Adds a record; the point it completes, if any.
    std::optional<ChartPoint> add(const Record &r);
    // True once, at the first record of type 2: the third caption becomes "Capacité".
    bool captionChangedNow() const { return m_captionNow; }
    bool captionChanged() const { return m_captionDone; }
    int total() const { return m_total; }

  private:
    int m_counter = 0; // records since the last point
    int m_total = 0;
    double m_sumVbat = 0, m_sumCour = 0;
    int m_lastType = 0;
    bool m_captionDone = false;
    bool m_captionNow = false;
};

} // namespace modes::moni
