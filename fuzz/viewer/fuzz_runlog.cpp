// Fuzz target for the log viewer's reader: any bytes are either refused with a reason or
// read into columns that all have one value per record, on a time axis that never goes
// back; the summary and the CSV of what was read never crash, and the CSV has one line per
// record after its titles.

#include "viewer/csvexport.h"
#include "viewer/runlogfile.h"

#include <cstdint>
#include <cstdlib>

static void check(bool ok) {
    if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const viewer::ReadResult r = viewer::parseRunLog(bytes, QStringLiteral("fuzz.txt"));
    if (!r.log) {
        check(!r.error.isEmpty());
        return 0;
    }
    const viewer::RunLog &log = *r.log;
    check(log.values.size() == log.columns.size());
    for (const auto &column : log.values)
        check(column.size() == log.records());
    for (size_t i = 1; i < log.records(); ++i)
        check(!(log.elapsed[i] < log.elapsed[i - 1]));
    const viewer::RunSummary s = viewer::summarise(log);
    check(!(s.duration < 0));
    const QByteArray csv = viewer::csvText(log, {QLatin1Char(';'), QLatin1Char(',')});
    check(qsizetype(csv.count("\r\n")) == qsizetype(log.records()) + 1);
    return 0;
}
