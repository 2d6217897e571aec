#pragma once

#include <QChar>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// Run logs of the mode windows: file names, header lines, records, and the file itself,
// written one record at a time and flushed after each so that a crash or an unplugged
// adapter loses nothing already measured.
namespace modes {

// A log field: a number, or nothing for a value never computed.
using Field = std::optional<double>;

// "St_CH" + "_D12_07_26T09_05.txt" for a start on 7 December 2026 at 09:05.
QString logFileName(const QString &prefix, const QDateTime &start);
inline constexpr const char *kChargePrefix = "St_CH";
inline constexpr const char *kDischargePrefix = "S_DCH";

// The column names, in record order.
const QStringList &chargeColumns();    // 16 names
const QStringList &dischargeColumns(); // 13 names
// "A:B:...:Z" (no trailing separator).
QString headerLine(const QStringList &columns);
// Fields in log number form joined by ':'; an empty field writes nothing.
QString recordLine(const std::vector<Field> &fields, QChar decimalPoint);
// The decimal separator of the system locale.
QChar localeDecimalPoint();

// The folder run logs are written to: the program's current directory. On systems without
// drive letters the first call makes the program's own data folder (created when missing)
// the current directory, so that logs do not land wherever the program was launched from.
// A window that chooses its own log folder afterwards (capacity, monitor) changes the
// current directory and later logs follow it.
QString runLogFolder();
// Tells runLogFolder() that the current directory was chosen on purpose (a window that
// sets its own folder, or a test) and must not be replaced by the data folder.
void keepCurrentFolder();

// Creates a new file for writing at `wanted`, or, when that name is taken, at the next free
// name with a number before the extension: "x.txt", "x_2.txt", "x_3.txt", ... Creation is
// exclusive (the check and the creation are one step), so an existing file is never opened,
// truncated or replaced, even when another program creates the same name at that moment.
// file.fileName() is then the name actually written. False, with the reason, when the file
// cannot be created. Every log the program writes is created through this routine.
bool createNewFile(QFile &file, const QString &wanted, QString *error);

// One run's log file.
class RunLog {
  public:
    ~RunLog() { close(); }
    // Creates a new file (createNewFile: never over an existing one) and writes the header
    // line and the empty line; path() is then the name actually written.
    bool open(const QString &path, const QString &header, QString *error);
    // Appends one record line and flushes it; false when the system refused the write.
    bool append(const QString &line);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_path; }

  private:
    bool writeLine(const QString &line);
    QFile m_file;
    QString m_path;
};

} // namespace modes
