#pragma once

// Intel HEX firmware files turned into program-memory images (QtCore only, no port, no
// widget): shared by pelmora's microcontroller window and the boot loader uploader.
//
// Every loader reads the whole text first and checks every record (hex digits, byte count
// against the line length, checksum, address range) before it touches the image: a bad
// file leaves the image exactly as it was and says which line is wrong. Records:
//   00 data; 01 end of file (nothing after it is read); 04 extended linear address: data
//   is taken only while the upper address is 0000 (02, the segment form, is handled the
//   same way); other types are skipped.
// Lines that do not start with ':' are ignored (blank lines, comments); blanks around a
// line and a trailing CR are ignored. Hex digits may be upper or lower case. A record with
// an odd byte count stores exactly its counted bytes. A file without any data record that
// lands in the image is refused ("aucune donnée").

#include <QByteArray>
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

// Value of two hexadecimal digits ("3F", "a0"), or -1 when either is not a hex digit.
int hexPair(char high, char low);

// Why a load failed. line is the 1-based line of the file, 0 when no single line is at
// fault (unreadable file, no data).
struct LoadError {
    int line = 0;
    QString message;
    // "ligne 12 : somme de contrôle fausse ..." or the message alone when line is 0.
    QString text() const;
};

// Result of the master and boot loader image loaders.
struct ByteImageLoad {
    bool ok = false;
    // The image after the load; on failure, the image given to the loader, untouched.
    QByteArray image;
    // The byte address following the last data byte of the last data record taken
    // (in a file sorted by address: the end of the image).
    int endAddress = 0;
    LoadError error;
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
// normally blankMasterImage()). Data at 0x8000 or beyond is an error.
ByteImageLoad loadMasterImage(const QByteArray &text, const QByteArray &image = blankMasterImage());

// Slave image loader: the file's byte addresses b go to word b / 2 (even b low byte, odd b
// high byte) of `image` (kSlaveWords words, normally blankSlaveImage()). Words at 8192 and
// above (byte address 0x4000 and above: configuration word, data EEPROM) are skipped and do
// not move the last address. A word above 0x3FFF is an error.
SlaveImageLoad loadSlaveImage(const QByteArray &text,
                              const QVector<quint16> &image = blankSlaveImage());

// Boot loader image loader: `previous` is the uploader's buffer from an earlier load
// (empty: a buffer of 0xFF). On success indexes 0..kBootFillLast are 0xFF before the
// file's data is written, indexes above keep their previous contents, and endAddress
// bounds the upload. Data at 0x8000 or beyond is an error. On failure `previous` is
// returned untouched (a buffer of 0xFF when it was empty).
ByteImageLoad loadBootImage(const QByteArray &text, const QByteArray &previous = QByteArray());

// Reads a whole HEX file (at most kMaxFileBytes) for the loaders above. False with a
// French reason in *error when it cannot be opened or read, or is too large.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
bool readHexFile(const QString &path, QByteArray *text, LoadError *error);
bool readHexFile(QIODevice &device, QByteArray *text, LoadError *error);

} // namespace firmware
