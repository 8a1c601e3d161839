// SPDX-License-Identifier: GPL-3.0-or-later
// The real-system hooks of the gadget unit: the report node, the gadget script, the memory files
// and the signals that carry the test's requests.
#pragma once

#include "unit/gadget/GadgetLoop.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

namespace qx::gadget {

// Runs `argv` (argv[0] a path) with the default signal mask and waits; its exit status, -1 when
// it could not be started or did not exit normally.
int runProgram(const std::vector<std::string>& argv);

// Writes flash.bin, eeprom.bin, settings.bin and requests.txt (a "CC count" line for every
// command received: hexadecimal code, decimal count) into `dir`, each replaced whole (written
// beside and renamed), so that a reader never sees half a file.
bool dumpMemories(const unit::VirtualUnit& unit, const std::filesystem::path& dir);

// The times (nanoseconds since the epoch, the system's clock) at which the latest answers went
// out, kept for a test that matches them with what the host did with them.
class AnswerTimes {
public:
    // Keeps the latest `capacity` times.
    explicit AnswerTimes(std::size_t capacity = 4096) : capacity_(capacity) {}
    void note();
    // Writes them to `file`, one a line, oldest first, replaced whole.
    bool write(const std::filesystem::path& file) const;

private:
    std::size_t capacity_;
    std::deque<std::int64_t> times_;
};

// The requests a test sends as signals: SIGUSR1 restart in boot mode, SIGUSR2 restart in normal
// mode, SIGHUP save the memories, SIGTERM or SIGINT save and end.
//
// Blocks those signals in the calling thread (do it before any other thread starts) and returns a
// signalfd that becomes readable when one is pending; -1 on failure.
int openControlSignals();
Control takeSignal(int signalFd);

} // namespace qx::gadget
