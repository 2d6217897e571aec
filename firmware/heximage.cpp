#include "heximage.h"

#include <QFile>
#include <QIODevice>
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
    ExtendedLinear = 0x04,
};

struct Record {
    int line;
    quint8 type;
    int address; // 16-bit load address of the record
    QByteArray data;
};

QString hex4(int v) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}
QString hex2(int v) {
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

// Reads every record up to the end record (or the end of the text) and checks its form.
// Returns false with the first faulty line in *error.
bool parseRecords(const QByteArray &text, std::vector<Record> *records, LoadError *error) {
    int lineNo = 0;
    qsizetype pos = 0;
    const qsizetype size = text.size();
    while (pos < size) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0) end = size;
        ++lineNo;
        // Blanks around the line (and the CR of a CR LF file) are not part of the record.
        const qsizetype lineStart = pos;
        qsizetype b = pos, e = end;
        pos = end + 1;
        while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\r'))
            ++b;
        while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r'))
            --e;
        if (b == e || text[b] != ':') continue;
        const char *digits = text.constData() + b + 1;
        const qsizetype nDigits = e - b - 1;
        const auto fail = [&](const QString &msg) {
            *error = {lineNo, msg};
            return false;
        };
        for (qsizetype i = 0; i < nDigits; ++i) {
            if (hexDigit(digits[i]) < 0)
                return fail(QStringLiteral("caractère non hexadécimal en colonne %1")
                                .arg(b + 1 + i - lineStart + 1));
        }
        if (nDigits < 10) return fail(QStringLiteral("ligne trop courte"));
        const int count = hexPair(digits[0], digits[1]);
        const qsizetype wanted = 2 * (qsizetype(count) + 5);
        if (nDigits < wanted)
            return fail(QStringLiteral("ligne trop courte pour ses %1 octets").arg(count));
        if (nDigits > wanted)
            return fail(QStringLiteral("longueur de ligne différente de son nombre d'octets (%1)")
                            .arg(count));
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
                            .arg(hex2(read), hex2(expected)));
        }
        Record r{lineNo, quint8(bytes[3]), 256 * quint8(bytes[1]) + quint8(bytes[2]),
                 bytes.mid(4, count)};
        if ((r.type == ExtendedLinear || r.type == ExtendedSegment) && count != 2)
            return fail(QStringLiteral("enregistrement d'adresse étendue de %1 octets au lieu "
                                       "de 2")
                            .arg(count));
        if (r.type == EndOfFile) return true;
        records->push_back(std::move(r));
    }
    return true;
}

// Extended address records other than 0000 suppress data records until 0000 comes back.
// Calls take(record) for every data record taken; stops at its first false.
template <typename Take> bool forEachTakenData(const std::vector<Record> &records, Take take) {
    bool accept = true;
    for (const Record &r : records) {
        if (r.type == ExtendedLinear || r.type == ExtendedSegment)
            accept = r.data.at(0) == 0 && r.data.at(1) == 0;
        else if (r.type == Data && accept && !take(r))
            return false;
    }
    return true;
}

LoadError noData() {
    return {0, QStringLiteral("aucune donnée dans le fichier")};
}

// Checks that every data record taken lies in 0..0x7FFF and writes it into image (which
// must hold kMasterImageSize bytes) only when the whole file is sound.
bool placeBytes(const std::vector<Record> &records, QByteArray *image, int *endAddress,
                LoadError *error) {
    bool any = false;
    int endAt = 0;
    const bool sound = forEachTakenData(records, [&](const Record &r) {
        if (r.address >= kMasterImageSize) {
            *error = {r.line, QStringLiteral("adresse %1 hors de la mémoire programme (0x8000 "
                                             "ou plus)")
                                  .arg(hex4(r.address))};
            return false;
        }
        if (r.address + r.data.size() > kMasterImageSize) {
            *error = {r.line, QStringLiteral("données au-delà de l'adresse 0x7FFF")};
            return false;
        }
        any = any || !r.data.isEmpty();
        return true;
    });
    if (!sound) return false;
    if (!any) {
        *error = noData();
        return false;
    }
    forEachTakenData(records, [&](const Record &r) {
        image->replace(r.address, r.data.size(), r.data);
        if (!r.data.isEmpty()) endAt = r.address + int(r.data.size());
        return true;
    });
    *endAddress = endAt;
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
        out.error = {0, QStringLiteral("image maître de taille %1 au lieu de %2")
                            .arg(image.size())
                            .arg(kMasterImageSize)};
        return out;
    }
    std::vector<Record> records;
    if (!parseRecords(text, &records, &out.error)) return out;
    QByteArray next = image;
    if (!placeBytes(records, &next, &out.endAddress, &out.error)) return out;
    out.image = next;
    out.ok = true;
    return out;
}

ByteImageLoad loadBootImage(const QByteArray &text, const QByteArray &previous) {
    ByteImageLoad out;
    out.image = previous.size() == kBootImageSize ? previous
                                                  : QByteArray(kBootImageSize, char(kMasterErased));
    std::vector<Record> records;
    if (!parseRecords(text, &records, &out.error)) return out;
    QByteArray next = out.image;
    next.replace(0, kBootFillLast + 1, QByteArray(kBootFillLast + 1, char(kMasterErased)));
    if (!placeBytes(records, &next, &out.endAddress, &out.error)) return out;
    out.image = next;
    out.ok = true;
    return out;
}

SlaveImageLoad loadSlaveImage(const QByteArray &text, const QVector<quint16> &image) {
    SlaveImageLoad out;
    out.words = image;
    if (image.size() != kSlaveWords) {
        out.error = {0, QStringLiteral("image esclave de %1 mots au lieu de %2")
                            .arg(image.size())
                            .arg(kSlaveWords)};
        return out;
    }
    std::vector<Record> records;
    if (!parseRecords(text, &records, &out.error)) return out;
    QVector<quint16> next = image;
    int last = 0;
    const bool sound = forEachTakenData(records, [&](const Record &r) {
        int firstWord = -1, lastWord = -1;
        for (int k = 0; k < r.data.size(); ++k) {
            const int byteAddress = r.address + k;
            const int w = byteAddress / 2;
            if (w >= kSlaveWords) break; // configuration word and data EEPROM: not program memory
            const quint16 v = quint8(r.data.at(k));
            next[w] = byteAddress % 2 == 0 ? quint16((next[w] & 0xFF00) | v)
                                           : quint16((next[w] & 0x00FF) | (v << 8));
            if (firstWord < 0) firstWord = w;
            lastWord = w;
        }
        for (int w = firstWord; w >= 0 && w <= lastWord; ++w) {
            if (next[w] > kSlaveErased) {
                out.error = {r.line, QStringLiteral("mot %1 de valeur %2, au-dessus de 0x3FFF")
                                         .arg(hex4(w), hex4(next[w]))};
                return false;
            }
        }
        if (lastWord >= 0 && last < lastWord + 1) last = lastWord + 1;
        return true;
    });
    if (!sound) return out;
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
        *error = {0, QStringLiteral("fichier trop grand pour un fichier HEX")};
        return false;
    }
    *text = data;
    return true;
}

bool readHexFile(const QString &path, QByteArray *text, LoadError *error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = {0, QStringLiteral("impossible d'ouvrir le fichier (%1)").arg(f.errorString())};
        return false;
    }
    return readHexFile(f, text, error);
}

} // namespace firmware
