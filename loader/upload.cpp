#include "upload.h"

#include "bootlink.h"
#include "numtext.h"

#include <algorithm>

namespace loader {

QByteArray Upload::block(const QByteArray &image, int a) {
    QByteArray b;
    b.reserve(kBlock + 5);
    const int high = a / 256;
    const int low = a - 256 * high;
    b.append(char(27));
    b.append(char(high));
    b.append(char(low));
    unsigned sum = unsigned(high + low);
    for (int i = 0; i < kBlock; ++i) {
        const quint8 v = a + i < image.size() ? quint8(image[a + i]) : quint8(0xFF);
        b.append(char(v));
        sum += v;
    }
    b.append(char(sum & 0xFF));
    b.append(char(0));
    return b;
}

QString Upload::countsText(int commErrors, int flashErrors) {
    return QStringLiteral("ErrCom ") + numberText(commErrors) + QStringLiteral(",Flsh") +
           numberText(flashErrors);
}

UploadResult Upload::run(BootLink &link, const QByteArray &image, int endAddress,
                         UploadObserver &observer) {
    UploadResult r;
    observer.setPanel(3, QStringLiteral("Transfer"));
    observer.setPanel(4, QStringLiteral("No Err"));
    observer.started(std::min(endAddress, kLimit));

    int failures = 0;
    link.sleep(kPauseMs);

    int a = 0;
    bool goOn = !link.stopped();
    if (!goOn) r.outcome = UploadResult::Stopped;
    while (goOn) {
        observer.progress(a);
        link.send(block(image, a));
        ++r.blocksSent;
        const int blockAddress = a;
        a += kBlock;
        const bool last = a >= kLimit || a >= endAddress;
        const WaitResult w = link.waitByte(link.answerTimeoutMs);
        if (w != WaitResult::Byte) {
            r.outcome = w == WaitResult::Timeout   ? UploadResult::Timeout
                        : w == WaitResult::Stopped ? UploadResult::Stopped
                                                   : UploadResult::PortFailed;
            a = blockAddress;
            break;
        }
        observer.setPanel(1, numberText(a));
        const quint8 answer = link.lastByte;
        if (answer == kAck) {
            failures = 0;
            observer.setPanel(2, QStringLiteral("ACK"));
        } else if (answer == kNack || answer == kErFlash) {
            a -= kBlock;
            ++failures;
            if (answer == kNack) {
                ++r.commErrors;
                observer.setPanel(2, QStringLiteral("NACK"));
            } else {
                ++r.flashErrors;
                observer.setPanel(2, QStringLiteral("ERFLASH"));
            }
            observer.setPanel(4, countsText(r.commErrors, r.flashErrors));
            if (failures == kMaxFailures) {
                r.outcome = UploadResult::Abandoned;
                goOn = false;
            }
            continue;
        }
        // Any other answer is taken as "go on", without resetting the failure count.
        if (last) goOn = false;
    }
    r.address = a;

    // The boot loader leaves its receive loop on this sequence, whatever happened.
    link.send(QByteArray::fromRawData("\x1b\xff\x00", 3));
    observer.finished();
    observer.setPanel(3, QStringLiteral("Transfer Finished"));
    if (r.outcome == UploadResult::Success) {
        observer.setPanel(1, QStringLiteral("Upload Successfull"));
    } else {
        observer.setPanel(1, QStringLiteral("Error in Upload") + numberText(a));
        if (r.outcome == UploadResult::Timeout)
            observer.setPanel(2, QStringLiteral("Time out"));
        else if (r.outcome == UploadResult::PortFailed)
            observer.setPanel(2, QStringLiteral("Port error"));
    }
    return r;
}

} // namespace loader
