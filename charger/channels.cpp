#include "channels.h"

#include <cmath>

namespace charger {

using namespace chlink;

namespace {
const QByteArray &tableOf(const Param &p, const QByteArray &tableA, const QByteArray &tableB) {
    return p.controller == Controller::Master ? tableA : tableB;
}
} // namespace

const ChannelDef &channel(Quantity q) {
    static const ChannelDef table[] = {
        {Quantity::Valim, CMD_READ_VALIM, master::kSupplyDivisor, "VALIMCAD"},
        {Quantity::Vdbl, CMD_READ_VDBL, master::kDoublerDivisor, "VDBLCAD"},
        {Quantity::Temper, CMD_READ_TEMP, master::kTempSlope, "TEMPCAD"},
        {Quantity::Ichrg, CMD_READ_ICHRG, slave::kChargeDivisor, "ICHRGCAD"},
        {Quantity::Idech, CMD_READ_IDECH, slave::kDischargeDivisor, "IDCHRGCAD"},
        {Quantity::Vbat, CMD_READ_VBAT, slave::kBatteryDivisor, "VBATCAD"},
    };
    return table[int(q)];
}

std::optional<double> convert(Quantity q, int count, const QByteArray &tableA,
                              const QByteArray &tableB) {
    const ChannelDef &c = channel(q);
    const int word = value(tableOf(c.calibration, tableA, tableB), c.calibration);
    if (word == 0) return std::nullopt;
    if (q == Quantity::Temper) {
        const int offset = value(tableA, master::kTempOffset);
        return std::floor(1024.0 * double(offset - count) / double(word));
    }
    return std::floor(1024.0 * double(count) / double(word)) / 100.0;
}

double countFor(Quantity q, double v, const QByteArray &tableA, const QByteArray &tableB) {
    const ChannelDef &c = channel(q);
    const int word = value(tableOf(c.calibration, tableA, tableB), c.calibration);
    if (q == Quantity::Temper) return value(tableA, master::kTempOffset) - v * word / 1024.0;
    return v * 100.0 * word / 1024.0;
}

} // namespace charger
