#pragma once

#include "charger/progrecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// What the external EEPROM editor keeps of the two memories, how it shows and reads back a
// program's fields, what it writes to the charger and what its files hold. QtCore only.
namespace diag::exteepr {

namespace pr = charger::progrecord;

// The window's selection: 1 the text memory, 2 the program library (device 0 and 1 of the
// commands 49 and 50).
enum Selection { NoMemory = 0, TextMemory = 1, ProgramMemory = 2 };
inline int deviceOf(int selection) {
    return selection - 1;
}
QString memoryName(int selection); // "EEprom1", "EEprom2"

constexpr int kMemoryBytes = pr::kMemoryBytes;
constexpr int kTextRecords = 256;
constexpr int kTextChars = 16;
// The last position of the scroll bar: text records 1..255 (record 0 is shown beside record
// 1 only), programs 1..127.
int maxPosition(int selection);

// ---- The entry lists ----

struct Program {
    QString name;
    QString params; // the parameter text
};
struct Library {
    QString header;            // the header text (shown in Text4)
    QVector<Program> programs; // index k: record k (1..127); index 0 unused
};

// Before any read: "mesg  r" (the number text of r after "mesg ").
QStringList initialTexts();
// Before any read: programs 1..64 named "----------------" with a text of zeros, the others
// empty.
Library initialLibrary();

QStringList textsFromMemory(const QByteArray &memory);
Library libraryFromMemory(const QByteArray &memory);

// The fields of a program's parameter text (padded with zeros, cut to 21; a text that is
// not digits shows zeros).
pr::ProgramParams paramsOf(const Program &p);

// ---- Writing to the charger ----

struct Write {
    int address;
    quint8 value;
};
// The 4096 bytes of the text memory, each text padded with spaces to 16 characters (one
// byte per character; a character above 255 cannot be written, see unwritableChar()).
QVector<Write> textWrites(const QStringList &texts);
// The header's three bytes, then the 32 bytes of each program 1..127.
struct LibraryWrites {
    QVector<Write> writes;
    QString error; // a program that does not fit its record; nothing to write then
};
LibraryWrites libraryWrites(const Library &lib);

// The first character of `text` that a byte cannot hold (above 255), if any.
std::optional<QChar> unwritableChar(const QString &text);

// ---- A program shown in the window ----

// The texts shown for a program's fields.
struct FieldTexts {
    QString name;      // Text5
    QString type;      // Text6
    QString cells;     // TxNbElem
    QString charge;    // EdICharg "1,500 A"
    QString discharge; // EdIDech
    QString duration;  // EdDuree "05H30"
    QString cycles;    // TNbrCycles
    QString volts;     // EdVDech "0,900 V"
    int flags = 0;     // Check1..Check6: bits 1..6
};
FieldTexts fieldTexts(const Program &p);

// The program the window's fields describe, or the message naming the field that does not
// fit its digits.
struct Stored {
    std::optional<Program> program;
    QString error;
};
Stored programFromFields(const FieldTexts &f);

// A type text as the window keeps it: a value above 3 becomes "0".
QString fitTypeText(const QString &text);
// The type the presentation follows (an empty or unknown text: 0).
int typeOf(const QString &text);

// "1,500 A": the first digit, a comma, the other two and "0 A" (values in 10 mA or 10 mV).
QString centiText(int centi, QChar unit);
// "05H30".
QString durationText(int hours, int minutes);

// ---- Files ----

// The file of a memory: 256 lines ending in CR LF, one character per byte. The text memory:
// records 0..255. The library: the header on each of the first two lines, then each
// program's name and parameter text. An entry holding a line break cannot be written
// (error names it).
struct FileText {
    QByteArray bytes;
    QString error;
};
FileText textsFile(const QStringList &texts);
FileText libraryFile(const Library &lib);

// A file read back, checked whole: the entries it holds, or the error naming the line.
struct FileLoad {
    QString error; // empty when the file is good
    QStringList texts;
    Library library;
};
constexpr qint64 kMaxFileBytes = 1 << 20;
// Names padded with spaces and cut to 16 characters; parameter texts padded with zeros and
// cut to 21, which must then be digits with flags up to 255 and fields that fit the record.
FileLoad parseTextsFile(const QByteArray &bytes);
FileLoad parseLibraryFile(const QByteArray &bytes);

// "1200 / 4096 octets, reste environ 15 s" during a transfer.
QString progressText(int done, int total, qint64 elapsedMs);

} // namespace diag::exteepr
