#include "heximage.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <algorithm>
#include <vector>

namespace firmware {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

enum RecordType : quint8 {
    Data = 0x00,
    EndOfFile = 0x01,
    ExtendedSegment = 0x02,
    StartSegment = 0x03,
    ExtendedLinear = 0x04,
    StartLinear = 0x05,
};

// Data of one data record at its full address (extended address records applied).
struct Chunk {
    int line;
    qint64 address;
    QByteArray data;
};

QString hexAddress(qint64 v) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}
QString hex2(int v) {
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

LoadError lineError(int line, const QString &french, const QString &english) {
    LoadError e;
    e.line = line;
    e.message = french;
    e.english = english;
    return e;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Reads every record up to the end record (or the end of the text), checks its form and
// returns the data of the data records at their full addresses. Returns false with the
// first faulty line in *error.
bool parseRecords(const QByteArray &text, std::vector<Chunk> *chunks, LoadError *error) {
    int lineNo = 0;
    qsizetype pos = text.startsWith("\xEF\xBB\xBF") ? 3 : 0; // UTF-8 byte-order mark
    const qsizetype size = text.size();
    qint64 base = 0; // from the last extended address record
    while (pos < size) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0) end = size;
        ++lineNo;
        // Blanks around the line (and the CR of a CR LF file) are not part of the record.
        const qsizetype lineStart = pos;
        qsizetype b = pos, e = end;
        pos = end + 1;
        while (b < e && isBlank(text[b]))
            ++b;
        while (e > b && isBlank(text[e - 1]))
            --e;
        if (b == e) continue;
        const auto fail = [&](const QString &french, const QString &english) {
            *error = lineError(lineNo, french, english);
            return false;
        };
        if (text[b] != ':')
            return fail(QStringLiteral("ce n'est pas un enregistrement HEX (pas de ':' en début "
                                       "de ligne)"),
                        QStringLiteral("not a HEX record (the line does not start with ':')"));
        const char *digits = text.constData() + b + 1;
        const qsizetype nDigits = e - b - 1;
        for (qsizetype i = 0; i < nDigits; ++i) {
            if (hexDigit(digits[i]) < 0) {
                const qsizetype column = b + 1 + i - lineStart + 1;
                return fail(
                    QStringLiteral("caractère non hexadécimal en colonne %1").arg(column),
                    QStringLiteral("character that is not a hex digit in column %1").arg(column));
            }
        }
        if (nDigits < 10)
            return fail(QStringLiteral("ligne trop courte"), QStringLiteral("line too short"));
        const int count = hexPair(digits[0], digits[1]);
        const qsizetype wanted = 2 * (qsizetype(count) + 5);
        if (nDigits < wanted)
            return fail(QStringLiteral("ligne trop courte pour ses %1 octets").arg(count),
                        QStringLiteral("line too short for its %1 bytes").arg(count));
        if (nDigits > wanted)
            return fail(
                QStringLiteral("longueur de ligne différente de son nombre d'octets (%1)")
                    .arg(count),
                QStringLiteral("line length does not match its byte count (%1)").arg(count));
        QByteArray bytes(count + 5, Qt::Uninitialized);
        quint8 sum = 0;
        for (int i = 0; i < count + 5; ++i) {
            bytes[i] = char(hexPair(digits[2 * i], digits[2 * i + 1]));
            sum = quint8(sum + quint8(bytes[i]));
        }
        if (sum != 0) {
            const quint8 read = quint8(bytes[count + 4]);
            const quint8 expected = quint8(read - sum);
            return fail(QStringLiteral("somme de contrôle fausse (lue %1, attendue %2)")
                            .arg(hex2(read), hex2(expected)),
                        QStringLiteral("wrong checksum (read %1, expected %2)")
                            .arg(hex2(read), hex2(expected)));
        }
        const quint8 type = quint8(bytes[3]);
        const int offset = 256 * quint8(bytes[1]) + quint8(bytes[2]);
        const auto word = [&bytes] { return 256 * quint8(bytes[4]) + quint8(bytes[5]); };
        switch (type) {
        case Data:
            if (count > 0) chunks->push_back({lineNo, base + offset, bytes.mid(4, count)});
            break;
        case EndOfFile:
            return true;
        case ExtendedSegment:
        case ExtendedLinear:
            if (count != 2)
                return fail(
                    QStringLiteral("enregistrement d'adresse étendue de %1 octets au lieu "
                                   "de 2")
                        .arg(count),
                    QStringLiteral("extended address record of %1 bytes instead of 2").arg(count));
            base = type == ExtendedLinear ? qint64(word()) << 16 : qint64(word()) << 4;
            break;
        case StartSegment:
        case StartLinear:
            break; // where a program starts: nothing to load
        default:
            return fail(QStringLiteral("type d'enregistrement inconnu (%1)").arg(hex2(type)),
                        QStringLiteral("unknown record type (%1)").arg(hex2(type)));
        }
    }
    return true;
}

LoadError noData() {
    return lineError(0, QStringLiteral("aucune donnée dans le fichier"),
                     QStringLiteral("no data in the file"));
}

// Data beyond the memory, at `address` (the first byte outside it); memory ends at `end`.
LoadError outside(int line, qint64 address, int end) {
    return lineError(line,
                     QStringLiteral("données en %1, hors de la mémoire programme (0x0000 à %2)")
                         .arg(hexAddress(address), hexAddress(end - 1)),
                     QStringLiteral("data at %1, outside the program memory (0x0000 to %2)")
                         .arg(hexAddress(address), hexAddress(end - 1)));
}

// Checks that every data byte lies in 0..0x7FFF and writes the data into image (which
// must hold kMasterImageSize bytes) only when the whole file is sound.
bool placeBytes(const std::vector<Chunk> &chunks, QByteArray *image, ByteImageLoad *out) {
    for (const Chunk &c : chunks) {
        if (c.address + c.data.size() > kMasterImageSize) {
            out->error =
                outside(c.line, std::max<qint64>(c.address, kMasterImageSize), kMasterImageSize);
            return false;
        }
    }
    if (chunks.empty()) {
        out->error = noData();
        return false;
    }
    QList<AddressSpan> spans;
    for (const Chunk &c : chunks) {
        image->replace(int(c.address), c.data.size(), c.data);
        spans.append({int(c.address), int(c.address + c.data.size())});
    }
    std::sort(spans.begin(), spans.end(),
              [](const AddressSpan &x, const AddressSpan &y) { return x.from < y.from; });
    out->spans.clear();
    for (const AddressSpan &s : spans) {
        if (!out->spans.isEmpty() && s.from <= out->spans.last().to)
            out->spans.last().to = std::max(out->spans.last().to, s.to);
        else
            out->spans.append(s);
    }
    out->endAddress = out->spans.last().to;
    return true;
}

} // namespace

int hexPair(char high, char low) {
    const int h = hexDigit(high), l = hexDigit(low);
    return h < 0 || l < 0 ? -1 : 16 * h + l;
}

QString LoadError::text() const {
    return line > 0 ? QStringLiteral("ligne %1 : %2").arg(line).arg(message) : message;
}

QString LoadError::englishText() const {
    return line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(english) : english;
}

bool ByteImageLoad::holdsDataIn(int from, int to) const {
    return std::any_of(spans.begin(), spans.end(),
                       [=](const AddressSpan &s) { return s.from < to && s.to > from; });
}

QString ByteImageLoad::spansText() const {
    QStringList parts;
    for (const AddressSpan &s : spans) {
        if (parts.size() == 4) {
            parts << QStringLiteral("...");
            break;
        }
        parts << hexAddress(s.from) + QStringLiteral("..") + hexAddress(s.to - 1);
    }
    return parts.join(QStringLiteral(", "));
}

QByteArray blankMasterImage() {
    return QByteArray(kMasterImageSize, char(kMasterErased));
}

QVector<quint16> blankSlaveImage() {
    return QVector<quint16>(kSlaveWords, kSlaveErased);
}

ByteImageLoad loadMasterImage(const QByteArray &text, const QByteArray &image) {
    ByteImageLoad out;
    out.image = image;
    if (image.size() != kMasterImageSize) {
        const QString fr = QStringLiteral("image maître de taille %1 au lieu de %2")
                               .arg(image.size())
                               .arg(kMasterImageSize);
        out.error = lineError(0, fr,
                              QStringLiteral("master image of %1 bytes instead of %2")
                                  .arg(image.size())
                                  .arg(kMasterImageSize));
        return out;
    }
    std::vector<Chunk> chunks;
    if (!parseRecords(text, &chunks, &out.error)) return out;
    QByteArray next = image;
    if (!placeBytes(chunks, &next, &out)) return out;
    out.image = next;
    out.ok = true;
    return out;
}

ByteImageLoad loadBootImage(const QByteArray &text, const QByteArray &previous) {
    ByteImageLoad out;
    out.image = previous.size() == kBootImageSize ? previous
                                                  : QByteArray(kBootImageSize, char(kMasterErased));
    std::vector<Chunk> chunks;
    if (!parseRecords(text, &chunks, &out.error)) return out;
    QByteArray next = out.image;
    next.replace(0, kBootFillLast + 1, QByteArray(kBootFillLast + 1, char(kMasterErased)));
    ByteImageLoad placed;
    if (!placeBytes(chunks, &next, &placed)) {
        out.error = placed.error;
        return out;
    }
    if (!placed.holdsDataIn(0, kBootUploadEnd)) {
        // Uploading it would only write 0xFF over the whole application.
        const QString where = placed.spansText();
        out.error = lineError(
            0,
            QStringLiteral("aucune donnée dans la zone envoyée au bootloader (0x0000 à %1) : "
                           "les données du fichier sont en %2, dans la zone du bootloader")
                .arg(hexAddress(kBootUploadEnd - 1), where),
            QStringLiteral("no data in the range sent to the boot loader (0x0000 to %1): the "
                           "file's data lie at %2, in the boot loader's own area")
                .arg(hexAddress(kBootUploadEnd - 1), where));
        return out;
    }
    out.image = next;
    out.endAddress = placed.endAddress;
    out.spans = placed.spans;
    out.ok = true;
    return out;
}

SlaveImageLoad loadSlaveImage(const QByteArray &text, const QVector<quint16> &image) {
    SlaveImageLoad out;
    out.words = image;
    if (image.size() != kSlaveWords) {
        const QString fr = QStringLiteral("image esclave de %1 mots au lieu de %2")
                               .arg(image.size())
                               .arg(kSlaveWords);
        out.error = lineError(0, fr,
                              QStringLiteral("slave image of %1 words instead of %2")
                                  .arg(image.size())
                                  .arg(kSlaveWords));
        return out;
    }
    std::vector<Chunk> chunks;
    if (!parseRecords(text, &chunks, &out.error)) return out;
    // The slave's files address 64 KB: program memory below 0x4000, then its configuration
    // word and data EEPROM, which are not program memory. Nothing of the slave lies higher.
    constexpr qint64 kSlaveFileSpace = 0x10000;
    for (const Chunk &c : chunks) {
        if (c.address + c.data.size() > kSlaveFileSpace) {
            const qint64 at = std::max(c.address, kSlaveFileSpace);
            out.error =
                lineError(c.line,
                          QStringLiteral("données en %1, hors de l'esclave (0x0000 à 0xFFFF)")
                              .arg(hexAddress(at)),
                          QStringLiteral("data at %1, outside the slave (0x0000 to 0xFFFF)")
                              .arg(hexAddress(at)));
            return out;
        }
    }
    QVector<quint16> next = image;
    int last = 0;
    for (const Chunk &c : chunks) {
        int firstWord = -1, lastWord = -1;
        for (int k = 0; k < c.data.size(); ++k) {
            const int byteAddress = int(c.address) + k;
            const int w = byteAddress / 2;
            if (w >= kSlaveWords) break; // configuration word and data EEPROM: not program memory
            const quint16 v = quint8(c.data.at(k));
            next[w] = byteAddress % 2 == 0 ? quint16((next[w] & 0xFF00) | v)
                                           : quint16((next[w] & 0x00FF) | (v << 8));
            if (firstWord < 0) firstWord = w;
            lastWord = w;
        }
        for (int w = firstWord; w >= 0 && w <= lastWord; ++w) {
            if (next[w] > kSlaveErased) {
                out.error = lineError(c.line,
                                      QStringLiteral("mot %1 de valeur %2, au-dessus de 0x3FFF")
                                          .arg(hexAddress(w), hexAddress(next[w])),
                                      QStringLiteral("word %1 of value %2, above 0x3FFF")
                                          .arg(hexAddress(w), hexAddress(next[w])));
                return out;
            }
        }
        if (lastWord >= 0 && last < lastWord + 1) last = lastWord + 1;
    }
    if (last == 0) {
        out.error = noData();
        return out;
    }
    out.words = next;
    out.lastAddress = last;
    out.ok = true;
    return out;
}

bool readHexFile(QIODevice &device, QByteArray *text, LoadError *error) {
    QByteArray data = device.read(kMaxFileBytes + 1);
    if (data.size() > kMaxFileBytes) {
        *error = lineError(0, QStringLiteral("fichier trop grand pour un fichier HEX"),
                           QStringLiteral("file too large for a HEX file"));
        error->unreadable = true;
        return false;
    }
    *text = data;
    return true;
}

bool readHexFile(const QString &path, QByteArray *text, LoadError *error) {
    // Looked at before it is opened: opening a FIFO would wait for a writer for ever.
    const QFileInfo info(path);
    const auto refuse = [error](const QString &french, const QString &english) {
        *error = lineError(0, french, english);
        error->unreadable = true;
        return false;
    };
    if (!info.exists())
        return refuse(QStringLiteral("fichier introuvable"), QStringLiteral("no such file"));
    if (!info.isFile())
        return refuse(QStringLiteral("ce n'est pas un fichier ordinaire"),
                      QStringLiteral("not a regular file"));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("impossible d'ouvrir le fichier (%1)").arg(f.errorString()),
                      QStringLiteral("cannot open the file (%1)").arg(f.errorString()));
    return readHexFile(f, text, error);
}

} // namespace firmware
