// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/Transport.h"

#include "link/LinkFrame.h"
#include "link/crc.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace qx {

namespace {

void putBe16(uint8_t* p, std::size_t v) {
    p[0] = static_cast<uint8_t>((v >> 8) & 0xFF);
    p[1] = static_cast<uint8_t>(v & 0xFF);
}

// Clears `busy` however sendFrame leaves.
struct BusyScope {
    explicit BusyScope(std::atomic<bool>& f) : flag(f) { flag = true; }
    ~BusyScope() { flag = false; }
    std::atomic<bool>& flag;
};

} // namespace

uint8_t sendFrame(LinkState& link, HidPort& port, const LinkRequest& req, ErrorSink* errors,
                  std::stop_token stop) {
    BusyScope busy(link.busy);
    if (!link.connected) {
        return 0;
    }
    BuiltFrame frame;
    std::optional<uint64_t> settingsEdit;
    if (req.payloadIsSettings) {
        const LinkState::SettingsForSend s = link.takeSettingsForSend();
        settingsEdit = s.edit;
        frame = buildFrame(req.command, rawBytes(s.settings));
    } else {
        frame = buildFrame(req.command, req.payload);
    }
    if (!frame.ok()) {
        if (errors != nullptr) {
            errors->showError(frame.error);
        }
        return 0;
    }

    const std::size_t total = frame.bytes.size();
    std::array<uint8_t, kTransferReportSize> report{};
    report[0] = 1;
    putBe16(&report[3], total);
    // Every piece is offered even after a refusal, but a frame with a refused piece is not
    // reported as sent: the unit got it incomplete, and an update block must not count as
    // written.
    uint8_t result = 0;
    bool everyPieceAccepted = true;
    for (std::size_t p = 0; p < total;) {
        if (stop.stop_requested()) {
            everyPieceAccepted = false;
            break;
        }
        std::fill(report.begin() + 5, report.begin() + 5 + kPieceSize, uint8_t{0});
        const std::size_t piece = std::min(total - p, kPieceSize);
        putBe16(&report[1], p);
        std::copy_n(frame.bytes.begin() + static_cast<std::ptrdiff_t>(p), piece,
                    report.begin() + 5);
        report[63] = static_cast<uint8_t>(piece);
        report[64] = 0;
        TrafficTap* tap = link.tap.load();
        if (tap != nullptr) {
            tap->sent(report);
        }
        result = port.setOutputReport(report.data());
        if (result == 0) {
            link.counters.piecesRefused.fetch_add(1, std::memory_order_relaxed);
            if (tap != nullptr) {
                tap->refused(report);
            }
        }
        everyPieceAccepted = everyPieceAccepted && result != 0;
        p += piece;
    }
    if (everyPieceAccepted) {
        link.counters.framesSent.fetch_add(1, std::memory_order_relaxed);
        return result;
    }
    if (settingsEdit) {
        link.settingsRefused(*settingsEdit);
    }
    return 0;
}

Receiver::Receiver(LinkState& link, AnswerSink* answers) : link_(link), answers_(answers) {}

std::size_t Receiver::bufferedBytes() const {
    std::lock_guard lock(mutex_);
    return rxBuffer_.size();
}

void Receiver::onInputReport(const THIDreport& report, uint8_t /*count*/) {
    // Runs on the library's reader thread, where nothing may escape.
    try {
        if (TrafficTap* tap = link_.tap.load()) {
            tap->received(std::span<const uint8_t>(&report.reportId, sizeof(THIDreport)));
        }
    } catch (...) {
        // What a diagnostics view misses changes nothing on the link.
    }
    std::lock_guard lock(mutex_);
    try {
        take(report);
    } catch (...) {
        // What could not be handled is dropped like a damaged frame, and the next frame starts
        // afresh.
        rxBuffer_.clear();
    }
}

void Receiver::take(const THIDreport& report) {
    const std::size_t offset = (std::size_t{report.data[0]} << 8) | report.data[1];
    const std::size_t total = (std::size_t{report.data[2]} << 8) | report.data[3];
    // Offsets are 16-bit, so the buffer never exceeds 64 KiB + one piece.
    if (rxBuffer_.size() < offset + kPieceSize) {
        rxBuffer_.resize(offset + kPieceSize);
    }
    std::memcpy(rxBuffer_.data() + offset, &report.data[4], kPieceSize);
    if (offset < total) {
        return; // more pieces to come
    }
    dispatch();
    rxBuffer_.clear();
}

void Receiver::dispatch() {
    const auto frame = checkFrame(rxBuffer_);
    if (!frame) {
        // Impossible length, missing CRC bytes or CRC mismatch: dropped, only counted.
        if (frameLengthFits(rxBuffer_)) {
            link_.counters.crcFailures.fetch_add(1, std::memory_order_relaxed);
        } else {
            link_.counters.lengthFailures.fetch_add(1, std::memory_order_relaxed);
        }
        return;
    }
    link_.counters.noteAnswer();
    const uint8_t c = frame->command;
    const bool ackBit = (c & 0x80) != 0;
    if (c == cmd::kStatus || c == cmd::kSettingsWrite) {
        // Read at fixed offsets; a longer answer is fine, but a shorter one would fill the
        // records with its CRC and stale bytes, which the next click would then write to the
        // unit. It still acknowledges.
        if (frame->payload.size() >= kAnswerPayloadSize) {
            link_.storeAnswer(ackBit, std::span<const uint8_t, kAnswerPayloadSize>(
                                          frame->payload.data(), kAnswerPayloadSize));
        } else {
            link_.counters.lengthFailures.fetch_add(1, std::memory_order_relaxed);
            link_.noteAnswer(ackBit);
        }
        return;
    }
    if (!link_.noteAnswer(ackBit) || answers_ == nullptr) {
        return;
    }
    if (c == cmd::kFinish) {
        answers_->finishAnswer(!frame->payload.empty() && frame->payload[0] != 0);
    } else if (c == cmd::kResetDefaults) {
        answers_->resetAnswer();
    }
}

} // namespace qx
