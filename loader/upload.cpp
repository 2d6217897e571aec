#include "upload.h"

#include "bootlink.h"
#include "numtext.h"

#include <QElapsedTimer>
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

QString Upload::countsText(int commErrors, int flashErrors, int otherAnswers) {
    QString t = QStringLiteral("ErrCom ") + numberText(commErrors) + QStringLiteral(",Flsh") +
                numberText(flashErrors);
    if (otherAnswers > 0) t += QStringLiteral(",Autre") + numberText(otherAnswers);
    return t;
}

namespace {

// Drops what the line still brings until it has been quiet for quietMs, or for limitMs in
// all on a line that keeps chattering. Returns Timeout then, or how the wait failed
// (Stopped, PortFailed, NotOpen).
WaitResult settle(BootLink &link, int quietMs, int limitMs) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        const WaitResult w = link.waitByte(quietMs);
        if (w != WaitResult::Byte) return w;
        if (t.elapsed() >= limitMs) return WaitResult::Timeout;
    }
}

UploadResult::Outcome failedWait(WaitResult w) {
    return w == WaitResult::Timeout   ? UploadResult::Timeout
           : w == WaitResult::Stopped ? UploadResult::Stopped
                                      : UploadResult::PortFailed;
}

} // namespace

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
            r.outcome = failedWait(w);
            a = blockAddress;
            break;
        }
        observer.setPanel(1, numberText(a));
        const quint8 answer = link.lastByte;
        r.lastAnswer = answer;
        if (answer == kAck) {
            failures = 0;
            observer.setPanel(2, QStringLiteral("ACK"));
            if (last) goOn = false;
            continue;
        }
        // Anything but an ACK: the block was not written, it is sent again.
        a = blockAddress;
        ++failures;
        if (answer == kNack) {
            ++r.commErrors;
            observer.setPanel(2, QStringLiteral("NACK"));
        } else if (answer == kErFlash) {
            ++r.flashErrors;
            observer.setPanel(2, QStringLiteral("ERFLASH"));
        } else {
            ++r.otherAnswers;
            observer.setPanel(
                2, QStringLiteral("Réponse 0x") +
                       QStringLiteral("%1").arg(answer, 2, 16, QLatin1Char('0')).toUpper());
        }
        observer.setPanel(4, countsText(r.commErrors, r.flashErrors, r.otherAnswers));
        observer.blockFailed(blockAddress, answer);
        if (failures == kMaxFailures) {
            r.outcome = UploadResult::Abandoned;
            goOn = false;
        } else if (answer != kNack && answer != kErFlash) {
            // A byte the boot loader does not send as an answer: noise on the line, and the
            // block's real answer may still be on its way. Let it pass before sending again.
            const WaitResult quiet = settle(link, kSettleMs, link.answerTimeoutMs);
            if (quiet != WaitResult::Timeout) {
                r.outcome = failedWait(quiet);
                break;
            }
        }
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
