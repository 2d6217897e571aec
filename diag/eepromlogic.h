#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// What the internal EEPROM editor shows and accepts, as plain code.
namespace diag {

// The value the editor's row selection and address entry mean "no address selected": it
// blocks the data entry.
constexpr int kNoAddress = 20;
constexpr int kRows = 16;

// Two upper-case hexadecimal digits: 5 gives "05", 171 "AB".
QString hexByte(quint8 b);
// The general line: addresses 0..15, each as hexByte and two blanks, under the header
// "00  01  02 ...".
QString generalLine(const QByteArray &image);
// The row view: addresses 16 x row .. 16 x row + 15, each as hexByte and one blank.
QString rowLine(const QByteArray &image, int row);
// The column headers over the general line and the row view.
QString generalHeader();
QString rowHeader();

// The value of an address or data entry, as the editor reads its text field: leading blanks,
// an optional sign, digits with an optional fraction (the digits up to the first other
// character; none gives 0), rounded to the nearest integer, halves to the even neighbour.
// Nothing when the result lies outside 0..255: the entry is refused.
std::optional<int> byteEntry(const QString &text);

} // namespace diag
