#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The charge-program library of the second external EEPROM, as the charger stores it and as
// the external EEPROM editor keeps it in its files.
//
// The memory holds 128 records of 32 bytes: record 0 is the header (its first three bytes a
// text, the number of programs), records 1..127 are programs:
//
//   bytes 0..15   name, 16 characters padded with spaces
//   byte  16      option flags, one raw byte (bits 1..6 mean something, by battery type)
//   byte  17      battery type, one digit: 0 Ni-Cd, 1 Ni-Mh, 2 lithium, 3 lead-acid
//   bytes 18..19  number of cells, two digits
//   bytes 20..22  charge current, three digits, 10 mA
//   bytes 23..25  discharge current, three digits, 10 mA
//   byte  26      duration, hours, one digit
//   byte  27      duration, tens of minutes, one digit
//   byte  28      number of cycles, one digit
//   bytes 29..31  discharge voltage (Ni-Cd, Ni-Mh) or voltage adjustment, three digits, 10 mV
//
// The editor keeps each program as its name and a 21-digit parameter text: flags (3), type
// (1), cells (2), charge (3), discharge (3), hours (2), minutes (2), cycles (2), voltage (3).
// The minutes of the text are the tens digit of the record followed by "0".
namespace charger::progrecord {

constexpr int kMemoryBytes = 4096;
constexpr int kRecordBytes = 32;
constexpr int kRecords = kMemoryBytes / kRecordBytes; // the header and the programs
constexpr int kPrograms = kRecords - 1;               // records 1..127
constexpr int kNameChars = 16;
constexpr int kHeaderChars = 3; // the bytes of record 0 that mean something
constexpr int kParamDigits = 21;
constexpr int kTypes = 4;

enum BatteryType { NiCd = 0, NiMh = 1, Lithium = 2, LeadAcid = 3 };

// Option bits of byte 16. Bits 0 and 7 mean nothing and are cleared when a program is
// stored from the editor; the others by battery type (see optionCaption()).
constexpr int kFirstOptionBit = 1;
constexpr int kLastOptionBit = 6;
constexpr int kOptionMask = 0x7E;
namespace option {
constexpr int kLithiumFastEnd = 1 << 1; // lithium: "Fin rapide", the charge ends sooner
constexpr int kLithiumCv41 = 1 << 2;    // lithium: constant voltage at 4.1 V a cell
} // namespace option

// The fields of one program.
struct ProgramParams {
    int flags = 0;
    int type = 0; // the type digit as stored (0..9; 0..3 are types)
    int cells = 0;
    int chargeCentiAmps = 0;
    int dischargeCentiAmps = 0;
    int hours = 0;
    int minutes = 0; // a multiple of ten in a record
    int cycles = 0;
    int voltsCenti = 0;
    bool operator==(const ProgramParams &) const = default;
};

// The fields, for messages naming the one that does not fit.
enum class Field { Name, Flags, Type, Cells, Charge, Discharge, Hours, Minutes, Cycles, Volts };

// The value of one record byte read as a digit: a non-digit counts as 0.
int digitValue(char byte);

// The name of a record (bytes 0..15), one character per byte.
QString recordName(const QByteArray &record);
// The fields of a program record (32 bytes; missing bytes count as non-digits).
ProgramParams recordParams(const QByteArray &record);
// The first field that the record cannot hold as it is: a name longer than 16 characters or
// with a character above 255, flags above 255, a type, hours or cycles above 9, a cell count
// above 99, currents or voltage above 999, minutes above 99 (the tens digit is stored,
// 45 minutes are kept as 40). Negative values never fit.
std::optional<Field> unfitField(const QString &name, const ProgramParams &p);
// The 32 bytes of a program: the name padded with spaces to 16 characters, then the fields.
// Only for what fits (unfitField() empty): a field too wide keeps its low digits.
QByteArray programRecord(const QString &name, const ProgramParams &p);

// The 21-digit parameter text of the fields (each within its width in the text).
QString paramText(const ProgramParams &p);
// The text of a program that was never read.
QString blankParamText();
// The fields of a parameter text of exactly 21 digits; nothing for any other text.
std::optional<ProgramParams> parseParamText(const QString &text);
// A parameter text as the editor files hold it: padded on the right with "0" and cut to 21.
QString fitParamText(const QString &text);
// A name as the records hold it: padded with spaces and cut to 16 characters.
QString fitName(const QString &name);

// The header record's text (its first three bytes) and the bytes the editor writes for it.
QString headerText(const QByteArray &memory);
QByteArray headerBytes(const QString &text);

// The battery type's short name: "Ni-Cd", "Ni-Mh", "Lith", "PB" (type 0 for any other).
QString typeName(int type);
// The caption of option bit `bit` (1..6) for a battery type, empty when the option does not
// exist for that type.
QString optionCaption(int type, int bit);

} // namespace charger::progrecord
