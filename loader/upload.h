#pragma once

#include "firmware/heximage.h"

#include <QByteArray>
#include <QString>

namespace loader {

class BootLink;

// What the upload shows as it goes: the four status bar panels and the progress bar.
class UploadObserver {
  public:
    virtual ~UploadObserver() = default;
    virtual void setPanel(int panel, const QString &text) = 0; // panel 1..4
    virtual void started(int progressMaximum) = 0;
    virtual void progress(int address) = 0;
    virtual void finished() = 0;
    // The block at `address` was not acknowledged (answer 7, 8 or anything but 6) and is
    // sent again unless the upload gives up.
    virtual void blockFailed(int address, quint8 answer) {
        Q_UNUSED(address);
        Q_UNUSED(answer);
    }
};

struct UploadResult {
    enum Outcome {
        Success,    // every block acknowledged (answered 6)
        Abandoned,  // five failed answers (NACK, ERFLASH or unexpected) in a row on one block
        Timeout,    // a block's answer never came
        PortFailed, // the port broke or was closed (disconnect) during the upload
        Stopped,    // the program is ending
    };
    Outcome outcome = Success;
    int address = 0; // the block address reached (the failing block's when not Success)
    int blocksSent = 0;
    int commErrors = 0;   // NACK answers
    int flashErrors = 0;  // ERFLASH answers
    int otherAnswers = 0; // answers other than ACK, NACK and ERFLASH
    int lastAnswer = -1;  // the last answer read (-1: none)
};

// Sends image[0 .. endAddress) to the boot loader in 64-byte blocks, never from 0x7800 on,
// and ends with 27, 255, 0 in every case the port still allows. Only an ACK (6) moves on to
// the next block: a block answered NACK or ERFLASH is sent again at once; any other answer
// is a failed block too, sent again once the line has been quiet for kSettleMs (so that
// the answer that may still follow a stray byte is not taken for the next block's). Five
// failed answers in a row abandon the upload.
class Upload {
  public:
    static constexpr int kBlock = 64;
    static constexpr int kLimit = 0x7800; // the boot loader's own area starts here
    static constexpr int kMaxFailures = 5;
    static constexpr quint8 kAck = 6, kNack = 7, kErFlash = 8;
    static constexpr int kPauseMs = 5;    // before the first block
    static constexpr int kSettleMs = 100; // quiet line before a block is sent again

    static_assert(kLimit == firmware::kBootUploadEnd);

    static UploadResult run(BootLink &link, const QByteArray &image, int endAddress,
                            UploadObserver &observer);

    // The 69 bytes of the block at address a.
    static QByteArray block(const QByteArray &image, int a);
    // "ErrCom  2,Flsh 0" as panel 4 shows the counts; ",Autre 1" follows when some
    // answers were neither ACK, NACK nor ERFLASH.
    static QString countsText(int commErrors, int flashErrors, int otherAnswers = 0);
};

} // namespace loader
