// SPDX-License-Identifier: GPL-3.0-or-later
// What a transfer writes into the update journal: the entry at its start, its progress while it
// runs, and how it ended. Plain C++ without Qt, shared by the update window and qx77zt.
#pragma once

#include "state/SettingsMemory.h"
#include "state/UpdateJournal.h"
#include "update/UpdatePackage.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace qx {

// SHA-256 of `bytes`, 64 lower-case hexadecimal digits.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

// Blocks a run sends for these images.
std::uint32_t blockCount(std::size_t flashSize, std::size_t eepromSize);

struct UnitFacts {
    std::string serial;
    std::string name;
    std::string version;
};

class UpdateLog {
public:
    // Either may be null: nothing is then journalled, or no snapshot is taken.
    UpdateLog(state::UpdateJournal* journal, state::SettingsMemory* memory);
    ~UpdateLog();

    bool keepsJournal() const { return journal_ != nullptr; }

    // Opens the entry of a transfer about to start; returns why it could not be written (empty
    // when it was, or when there is no journal). The entry is kept for this run either way.
    // `packagePath` is recorded as given: the caller makes it absolute. The entry's settings
    // snapshot is what `memory` holds for the unit, or, when the unit's last update did not
    // finish, that update's snapshot.
    std::string begin(const UnitFacts& unit, const std::string& packagePath,
                      std::span<const std::uint8_t> file, const UpdatePackage& package);
    // Any thread, never waits for the disk.
    void blockDone();
    // Closes the entry; returns a journal write failure met since begin (progress included), so
    // that it can be reported once the transfer is over.
    std::string end(state::UpdateState state, const std::string& message = {});
    // Forgets the entry of a transfer the operator chose not to start.
    void drop();
    // The entry of the transfer under way, 0 when none.
    std::uint64_t currentId() const { return id_; }

    // The newest entry of `serial` when it did not complete.
    std::optional<state::JournalEntry> unfinishedFor(const std::string& serial) const;
    std::vector<state::JournalEntry> entries() const;

private:
    state::UpdateJournal* journal_;
    state::SettingsMemory* memory_;
    std::uint64_t id_ = 0;
    std::string beginError_;
    std::atomic<std::uint32_t> blocks_{0};
    std::unique_ptr<state::ProgressRecorder> recorder_;
};

} // namespace qx
