#pragma once

// Intel HEX firmware files turned into program-memory images (QtCore only, no port, no
// widget): shared by pelmora's microcontroller window and the boot loader uploader.
//
// Every loader reads the whole text first and checks every record (hex digits, byte count
// against the line length, checksum, address range) before it touches the image: a bad
// file leaves the image exactly as it was and says which line is wrong. Records:
//   00 data; 01 end of file (nothing after it is read); 04 extended linear address (upper
//   16 bits of the addresses that follow); 02 extended segment address (the addresses that
//   follow are segment * 16 + offset); 03 and 05 (start addresses) are skipped.
// A UTF-8 byte-order mark at the start is skipped; blank lines, blanks around a line and a
// trailing CR are ignored; any other line that does not start with ':' is refused. Hex
// digits may be upper or lower case. A record with an odd byte count stores exactly its
// counted bytes. Data that lies outside the target's memory is refused, whatever the
// address; so is a file without any data record ("aucune donnée").

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

class QIODevice;

namespace firmware {

// Master program memory: bytes 0x0000..0x7FFF, erased bytes read 0xFF.
constexpr int kMasterImageSize = 0x8000;
constexpr quint8 kMasterErased = 0xFF;
// Slave program memory: 8192 words of 14 bits, erased words read 0x3FFF.
constexpr int kSlaveWords = 8192;
constexpr quint16 kSlaveErased = 0x3FFF;
// Boot loader buffer: 32768 bytes; indexes 0..kBootFillLast are set to 0xFF by every load.
constexpr int kBootImageSize = 0x8000;
constexpr int kBootFillLast = 30720;
// The boot loader's own area starts here: an upload sends 0 .. kBootUploadEnd - 1 at most.
constexpr int kBootUploadEnd = 0x7800;

// Value of two hexadecimal digits ("3F", "a0"), or -1 when either is not a hex digit.
int hexPair(char high, char low);

// Why a load failed. line is the 1-based line of the file, 0 when no single line is at
// fault (unreadable file, no data).
struct LoadError {
    int line = 0;
    QString message; // French, for the windows
    QString english; // the same in English, for the command line
    // The file itself could not be read (missing, not a regular file, unreadable): its
    // contents were never looked at.
    bool unreadable = false;
    // "ligne 12 : somme de contrôle fausse ..." or the message alone when line is 0.
    QString text() const;
    // "line 12: wrong checksum ..." or the English message alone when line is 0.
    QString englishText() const;
};

// Byte addresses from `from` up to, not including, `to`.
struct AddressSpan {
    int from = 0;
    int to = 0;
    bool operator==(const AddressSpan &) const = default;
};

// Result of the master and boot loader image loaders.
struct ByteImageLoad {
    bool ok = false;
    // The image after the load; on failure, the image given to the loader, untouched.
    QByteArray image;
    // One past the highest byte address the file's data wrote, whatever the order of its
    // records: the end of the image.
    int endAddress = 0;
    // The addresses the file's data wrote, in address order, touching spans merged.
    QList<AddressSpan> spans;
    LoadError error;

    // Whether the file wrote at least one byte at an address in [from, to).
    bool holdsDataIn(int from, int to) const;
    // Where the file's data lie: "0x0000..0x0FFF, 0x7800..0x7FFF" (the first four spans,
    // then ", ..."); the same text in both languages.
    QString spansText() const;
};

// Result of the slave image loader.
struct SlaveImageLoad {
    bool ok = false;
    // The image after the load (kSlaveWords words); on failure the given image, untouched.
    QVector<quint16> words;
    // One more than the highest word address written (the number of words to compare).
    int lastAddress = 0;
    LoadError error;
};

// A master image: kMasterImageSize bytes of 0xFF.
QByteArray blankMasterImage();
// A slave image: kSlaveWords words of 0x3FFF.
QVector<quint16> blankSlaveImage();

// Master image loader: the file's records written over `image` (kMasterImageSize bytes,
// normally blankMasterImage()). Data at 0x8000 or beyond (0x10000 and up included) is an
// error.
ByteImageLoad loadMasterImage(const QByteArray &text, const QByteArray &image = blankMasterImage());

// Slave image loader: the file's byte addresses b go to word b / 2 (even b low byte, odd b
// high byte) of `image` (kSlaveWords words, normally blankSlaveImage()). Words at 8192 and
// above (byte addresses 0x4000 to 0xFFFF: configuration word, data EEPROM) are skipped and
// do not move the last address. Data at 0x10000 and above lies outside the slave and is an
// error, as is a word above 0x3FFF.
SlaveImageLoad loadSlaveImage(const QByteArray &text,
                              const QVector<quint16> &image = blankSlaveImage());

// Boot loader image loader: `previous` is the uploader's buffer from an earlier load
// (empty: a buffer of 0xFF). On success indexes 0..kBootFillLast are 0xFF before the
// file's data is written, indexes above keep their previous contents, and endAddress
// bounds the upload. Data at 0x8000 or beyond is an error, and so is a file whose data
// all lie in the boot loader's own area (kBootUploadEnd and up), which no upload sends.
// On failure `previous` is returned untouched (a buffer of 0xFF when it was empty).
ByteImageLoad loadBootImage(const QByteArray &text, const QByteArray &previous = QByteArray());

// Reads a whole HEX file (at most kMaxFileBytes) for the loaders above. A path that does
// not exist or is not a regular file (a directory, a FIFO, a device) is refused before
// anything opens it. False with the reason in *error (unreadable set) when it cannot be
// opened or read, or is too large.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
bool readHexFile(const QString &path, QByteArray *text, LoadError *error);
bool readHexFile(QIODevice &device, QByteArray *text, LoadError *error);

} // namespace firmware
