#include "status.h"

namespace charger {

using namespace chlink;

const QVector<StatusBit> &statusBits() {
    static const QVector<StatusBit> bits = {
        {Status::DoublerCut, CMD_READ_OUTPUTS, 0, "doubler cut"},
        {Status::LedOn, CMD_READ_OUTPUTS, 1, "LED on"},
        {Status::FanOn, CMD_READ_OUTPUTS, 5, "fan on"},
        {Status::DischargeCut, CMD_READ_PORT, 0, "discharge path cut"},
        {Status::ChargeCut, CMD_READ_PORT, 1, "charge path cut"},
        {Status::PowerCut, CMD_READ_PORT, 2, "power path cut"},
        {Status::Sw1Released, CMD_READ_PORT, 3, "push-button SW1 released"},
        {Status::Sw2Released, CMD_READ_PORT, 4, "push-button SW2 released"},
        {Status::Sw3Released, CMD_READ_PORT, 5, "push-button SW3 released"},
        {Status::Sw4Released, CMD_READ_PORT, 6, "push-button SW4 released"},
        {Status::Sw5Released, CMD_READ_PORT, 7, "push-button SW5 released"},
        {Status::Sw6Released, CMD_READ_SW6, 0, "push-button SW6 released"},
    };
    return bits;
}

const StatusBit &statusBit(Status s) {
    return statusBits().at(int(s));
}

Status buttonStatus(int n) {
    return Status(int(Status::Sw1Released) + n - 1);
}

bool isSet(Status s, quint8 reply) {
    return (reply >> statusBit(s).bit) & 1;
}

quint8 withStatus(quint8 reply, Status s, bool set) {
    const quint8 mask = quint8(1u << statusBit(s).bit);
    return set ? quint8(reply | mask) : quint8(reply & ~mask);
}

} // namespace charger
