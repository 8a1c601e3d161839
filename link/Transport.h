// SPDX-License-Identifier: GPL-3.0-or-later
// Carrying frames in 65-byte transfer reports, and taking the unit's answers apart again.
//
// Transfer report: report ID 1 | piece offset, big-endian (2) | frame total, big-endian (2) |
// 58 data bytes | piece length (1) | 0.
#pragma once

#include "hidlib/HID_Lib.h"
#include "link/HidPort.h"
#include "link/LinkState.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

namespace qx {

inline constexpr std::size_t kTransferReportSize = 65;
inline constexpr std::size_t kPieceSize = 58;

// Where the answers that concern the operator go. Implementations hand them to the user
// interface thread; they are called on the library's reader thread and must not block it.
class AnswerSink {
public:
    virtual ~AnswerSink() = default;
    // The unit's verdict on a finished update (answer 0xFA).
    virtual void finishAnswer(bool success) = 0;
    // The unit restored its default settings (answer 0xFD).
    virtual void resetAnswer() = 0;
};

// Where a send failure that the operator must see goes (a frame too long to number).
class ErrorSink {
public:
    virtual ~ErrorSink() = default;
    virtual void showError(const std::string& text) = 0;
};

// Sends `req` as a frame in as many reports as it takes, offering every piece even when one is
// refused. Returns the library's result for the last report when every piece was accepted, else
// 0 (also when nothing was sent). A stop requested meanwhile ends the frame after the report in
// progress: each report of a stalled unit takes the library's whole timeout, and a worker asked
// to stop must not wait for all of them.
uint8_t sendFrame(LinkState& link, HidPort& port, const LinkRequest& req,
                  ErrorSink* errors = nullptr, std::stop_token stop = {});

// Reassembles the unit's input reports into frames, checks them and acts on them.
class Receiver {
public:
    Receiver(LinkState& link, AnswerSink* answers);
    // Never throws: an error while a report is handled empties the reassembly buffer.
    void onInputReport(const THIDreport& report, uint8_t count);
    // Size of the reassembly buffer (bounded by the 16-bit offsets).
    std::size_t bufferedBytes() const;

private:
    // Adds one report to the frame being reassembled and acts on the frame once it is whole.
    // Needs mutex_.
    void take(const THIDreport& report);
    void dispatch();

    LinkState& link_;
    AnswerSink* answers_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> rxBuffer_; // guarded by mutex_
};

} // namespace qx
