// Fuzz target for the monitor's record stream: any bytes on the line are searched for
// records without crashing, hanging or reading out of bounds; every record found has its '='
// in seventh place, its log line has the header's sixteen columns on one line, and the chart
// rule adds one point per ten records.

#include "modes/monilogic.h"

#include <cstdint>
#include <cstdlib>

using namespace modes::moni;

static void check(bool ok) {
    if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int columns = int(logHeader().count(QLatin1Char(','))) + 1;
    RecordSync sync;
    ChartTally tally;
    int records = 0, points = 0;
    for (size_t i = 0; i < size; ++i) {
        const auto r = sync.feed(data[i]);
        if (!r) continue;
        ++records;
        check(r->separator == '=');
        check(r->capacite >= -32768 && r->capacite <= 32767);
        check(r->resist >= 0 && r->resist <= 255);
        const QString line = logLine(*r);
        check(int(line.count(QLatin1Char(','))) + 1 == columns);
        check(!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')));
        if (const auto p = tally.add(*r)) {
            ++points;
            check(p->row == points);
        }
    }
    check(records <= int(size) / (kRecordBytes + 1));
    check(points == records / kRecordsPerPoint);
    return 0;
}
