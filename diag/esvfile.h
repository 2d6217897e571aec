#pragma once

#include <QByteArray>
#include <QString>

// The ".ESV" file of the internal EEPROM editor: a parameter image of 256 bytes as text, one
// line per address from 0 to 255, each the byte in decimal between two blanks and ending
// with CR LF. No header, no address, no checksum: the file does not say which controller it
// came from.
namespace diag {

constexpr int kEsvValues = 256;
// A file larger than this is not an image file (read no further).
constexpr qint64 kEsvMaxBytes = 64 * 1024;

QByteArray esvText(const QByteArray &image);

// A file's contents checked as a whole: exactly 256 numbers, each a decimal integer 0..255,
// separated by line ends, blanks or commas. `image` holds the 256 bytes when ok; otherwise
// `error` says which line is wrong and why (in the window's French).
struct EsvParse {
    bool ok = false;
    QByteArray image;
    QString error;
};
EsvParse parseEsv(const QByteArray &text);

// Reads and checks a file; the file is closed whatever happens.
EsvParse loadEsv(const QString &path);
// Writes the first 256 bytes of `image` all or nothing: a failed or interrupted save leaves
// the previous file as it was. False with the reason in *why.
bool saveEsv(const QString &path, const QByteArray &image, QString *why);

} // namespace diag
