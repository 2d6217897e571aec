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

const ChannelMeaning *channelMeaning(int code) {
    static const ChannelMeaning table[] = {
        {CMD_READ_TEMP, Measure::HeatsinkTemperature, "charger (heat-sink) temperature"},
        {CMD_READ_VALIM, Measure::SupplyVolts, "supply voltage"},
        {CMD_READ_VDBL, Measure::DoublerVolts, "doubler voltage"},
        {CMD_READ_VINV, Measure::Polarity, "battery polarity"},
        {CMD_READ_TBAT, Measure::PackTemperature, "battery pack temperature"},
        {CMD_READ_ICHRG, Measure::ChargeAmps, "charge current"},
        {CMD_READ_IDECH, Measure::DischargeAmps, "discharge current"},
        {CMD_READ_VDELTA, Measure::DeltaVolts, "delta voltage"},
        {CMD_READ_VBAT, Measure::BatteryVolts, "battery voltage"},
    };
    for (const ChannelMeaning &c : table)
        if (c.command == code) return &c;
    return nullptr;
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
