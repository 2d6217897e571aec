#pragma once

#include <cstdint>

namespace chlink {

// Command codes of the charger's running firmware. On the wire: 27, the code, then
// its argument bytes, each written separately.
enum Cmd : std::uint8_t {
    CMD_PANEL_INIT = 0,          // -> ACK
    CMD_LINK_STATUS = 1,         // -> frame 3: a, b, c (c = 6: slave answered over I2C)
    CMD_DISCONNECT = 3,          // -> nothing
    CMD_READ_TEMP = 5,           // -> frame 2
    CMD_READ_VALIM = 6,          // -> frame 2
    CMD_READ_VDBL = 7,           // -> frame 2
    CMD_READ_VINV = 8,           // -> frame 2 (below 100: reversed polarity)
    CMD_READ_TBAT = 9,           // -> frame 2
    CMD_READ_ICHRG = 10,         // -> frame 2
    CMD_READ_IDECH = 11,         // -> frame 2
    CMD_READ_VDELTA = 12,        // -> frame 2
    CMD_READ_VBAT = 13,          // -> frame 2
    CMD_CUT_CHARGE = 15,         // s -> answer byte
    CMD_CUT_DISCHARGE = 16,      // s -> answer byte
    CMD_CUT_POWER = 17,          // s -> answer byte
    CMD_GROUND_BAT = 18,         // s -> answer byte
    CMD_POT_ICHRG = 19,          // v -> answer byte
    CMD_POT_IDECH = 20,          // v -> answer byte
    CMD_POT_VDELTA = 21,         // v -> answer byte
    CMD_POT_OFFSET = 22,         // v -> answer byte
    CMD_LED = 23,                // s -> answer byte
    CMD_BEEP = 24,               // 10 -> answer byte
    CMD_FAN = 25,                // s -> answer byte
    CMD_READ_SW6 = 26,           // -> frame 1
    CMD_READ_OUTPUTS = 28,       // -> frame 1
    CMD_READ_PORT = 31,          // -> frame 1
    CMD_EE_READ_MASTER = 37,     // addr -> frame 1
    CMD_EE_READ_SLAVE = 38,      // addr -> frame 1
    CMD_EE_WRITE_MASTER = 39,    // addr, value -> ACK
    CMD_EE_WRITE_SLAVE = 40,     // addr, value -> ACK
    CMD_READ_CLOCK = 41,         // -> frame 3: h, m, s
    CMD_PHASE_START = 42,        // 0, 0, 0 -> answer byte
    CMD_FLASH_READ_MASTER = 45,  // word addr hi, lo -> frame 2
    CMD_FLASH_READ_SLAVE = 46,   // word addr hi, lo -> frame 2
    CMD_FLASH_WRITE_MASTER = 47, // byte addr hi, lo, 64 bytes -> ACK
    CMD_FLASH_WRITE_SLAVE = 48,  // word addr hi, lo, word hi, lo -> ACK
    CMD_EXT_EE_READ = 49,        // device, addr hi, lo -> frame 1
    CMD_EXT_EE_WRITE = 50,       // device, addr hi, lo, value -> ACK
    CMD_BOOSTER = 51,            // c [, f, d hi, d lo] -> answer byte
};

constexpr std::uint8_t ESC = 27;
constexpr std::uint8_t ACK = 6;
constexpr std::uint8_t PROBE = 0x55;
constexpr std::uint8_t CONFIRM = 0xAA;

enum class Reply { None, Frame, AnswerByte, Ack };

// How the charger answers one command: the number of argument bytes it takes and the
// reply kind (with the data length of a frame). Shared by the link and the virtual charger.
struct CommandShape {
    int args; // -1: the command is never sent
    Reply reply;
    int frameBytes; // data bytes of a reply frame
};

// CMD_BOOSTER takes 1 argument on a charger with a voltage doubler, 4 (c, f, d high, d low)
// on one with a boost-type supply, whatever c is; the shape gives the doubler form.
constexpr CommandShape commandShape(std::uint8_t code) {
    switch (code) {
    case CMD_PANEL_INIT:
        return {0, Reply::Ack, 0};
    case CMD_LINK_STATUS:
        return {0, Reply::Frame, 3};
    case CMD_DISCONNECT:
        return {0, Reply::None, 0};
    case CMD_READ_TEMP:
    case CMD_READ_VALIM:
    case CMD_READ_VDBL:
    case CMD_READ_VINV:
    case CMD_READ_TBAT:
    case CMD_READ_ICHRG:
    case CMD_READ_IDECH:
    case CMD_READ_VDELTA:
    case CMD_READ_VBAT:
        return {0, Reply::Frame, 2};
    case CMD_CUT_CHARGE:
    case CMD_CUT_DISCHARGE:
    case CMD_CUT_POWER:
    case CMD_GROUND_BAT:
    case CMD_POT_ICHRG:
    case CMD_POT_IDECH:
    case CMD_POT_VDELTA:
    case CMD_POT_OFFSET:
    case CMD_LED:
    case CMD_BEEP:
    case CMD_FAN:
        return {1, Reply::AnswerByte, 0};
    case CMD_READ_SW6:
    case CMD_READ_OUTPUTS:
    case CMD_READ_PORT:
        return {0, Reply::Frame, 1};
    case CMD_EE_READ_MASTER:
    case CMD_EE_READ_SLAVE:
        return {1, Reply::Frame, 1};
    case CMD_EE_WRITE_MASTER:
    case CMD_EE_WRITE_SLAVE:
        return {2, Reply::Ack, 0};
    case CMD_READ_CLOCK:
        return {0, Reply::Frame, 3};
    case CMD_PHASE_START:
        return {3, Reply::AnswerByte, 0};
    case CMD_FLASH_READ_MASTER:
    case CMD_FLASH_READ_SLAVE:
        return {2, Reply::Frame, 2};
    case CMD_FLASH_WRITE_MASTER:
        return {66, Reply::Ack, 0};
    case CMD_FLASH_WRITE_SLAVE:
        return {4, Reply::Ack, 0};
    case CMD_EXT_EE_READ:
        return {3, Reply::Frame, 1};
    case CMD_EXT_EE_WRITE:
        return {4, Reply::Ack, 0};
    case CMD_BOOSTER:
        return {1, Reply::AnswerByte, 0};
    default:
        return {-1, Reply::None, 0};
    }
}

} // namespace chlink
