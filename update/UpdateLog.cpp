// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/UpdateLog.h"

#include "update/UpdateRun.h"

#include <ctime>

namespace qx {

std::uint32_t blockCount(std::size_t flashSize, std::size_t eepromSize) {
    const auto blocks = [](std::size_t n) { return (n + kUpdateBlockSize - 1) / kUpdateBlockSize; };
    return static_cast<std::uint32_t>(blocks(flashSize) + blocks(eepromSize));
}

UpdateLog::UpdateLog(state::UpdateJournal* journal, state::SettingsMemory* memory)
    : journal_(journal), memory_(memory) {}

UpdateLog::~UpdateLog() = default;

std::string UpdateLog::begin(const UnitFacts& unit, const std::string& packagePath,
                             std::span<const std::uint8_t> file, const UpdatePackage& package) {
    recorder_.reset();
    id_ = 0;
    blocks_ = 0;
    beginError_.clear();
    if (journal_ == nullptr) {
        return {};
    }
    state::JournalEntry e;
    e.started = static_cast<std::int64_t>(std::time(nullptr));
    e.serial = unit.serial;
    e.unitName = unit.name;
    e.unitVersion = unit.version;
    e.packagePath = packagePath;
    e.packageSize = static_cast<std::uint64_t>(file.size());
    e.packageSha256 = sha256Hex(file);
    e.packageName = package.header.name;
    e.packageVersion = std::to_string(package.header.version.major) + "." +
                       std::to_string(package.header.version.minor);
    if (memory_ != nullptr) {
        e.snapshot = memory_->find(unit.serial);
    }
    // After an update that did not finish, the unit may have come back with its settings
    // already reset, and what was remembered since is then not the operator's: the settings
    // from before that update are, so this run carries them on.
    if (!unit.serial.empty()) {
        const std::optional<state::JournalEntry> before = journal_->latestFor(unit.serial);
        if (before && state::unfinished(before->state) && before->snapshot) {
            e.snapshot = before->snapshot;
        }
    }
    e.blocksTotal = blockCount(package.flash.size(), package.eeprom.size());
    const state::UpdateJournal::Added added = journal_->add(std::move(e));
    id_ = added.id;
    beginError_ = added.error;
    recorder_ = std::make_unique<state::ProgressRecorder>(*journal_, id_);
    return added.error;
}

void UpdateLog::blockDone() {
    const std::uint32_t n = ++blocks_;
    if (recorder_) {
        recorder_->blocksDone(n);
    }
}

std::string UpdateLog::end(state::UpdateState state, const std::string& message) {
    if (journal_ == nullptr || id_ == 0) {
        return {};
    }
    std::string error = recorder_ ? recorder_->lastError() : std::string();
    recorder_.reset(); // writes its last count first
    const std::string endError = journal_->change(id_, [&](state::JournalEntry& e) {
        e.blocksDone = blocks_;
        e.state = state;
        e.message = message;
        e.ended = static_cast<std::int64_t>(std::time(nullptr));
    });
    id_ = 0;
    if (!endError.empty()) {
        error = endError;
    }
    // A journal that could not be written at the start was accepted by the operator then.
    return beginError_.empty() ? error : std::string();
}

void UpdateLog::drop() {
    recorder_.reset();
    if (journal_ != nullptr && id_ != 0) {
        journal_->drop(id_);
    }
    id_ = 0;
}

std::optional<state::JournalEntry> UpdateLog::unfinishedFor(const std::string& serial) const {
    if (journal_ == nullptr || serial.empty()) {
        return std::nullopt;
    }
    std::optional<state::JournalEntry> e = journal_->latestFor(serial);
    if (!e || !state::unfinished(e->state) || e->id == id_) {
        return std::nullopt;
    }
    return e;
}

std::vector<state::JournalEntry> UpdateLog::entries() const {
    return journal_ != nullptr ? journal_->entries() : std::vector<state::JournalEntry>();
}

} // namespace qx
