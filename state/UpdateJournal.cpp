// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/UpdateJournal.h"

#include "state/FieldText.h"
#include "state/StateFiles.h"

#include <algorithm>
#include <array>

namespace qx::state {

namespace {

constexpr std::string_view kHeader = "qx77zt update journal 1";
constexpr std::size_t kEntryFields = 18; // "entry" and the 17 fields
constexpr std::size_t kShaSize = 32;

constexpr std::array<UpdateState, 5> kStates = {UpdateState::Running, UpdateState::Failed,
                                                UpdateState::Unconfirmed, UpdateState::Refused,
                                                UpdateState::Completed};

std::optional<UpdateState> stateFromName(std::string_view name) {
    for (const UpdateState s : kStates) {
        if (name == stateName(s)) {
            return s;
        }
    }
    return std::nullopt;
}

std::optional<std::string> textField(std::string_view field, std::size_t maxLength) {
    auto text = unescapeField(field);
    if (!text || text->size() > maxLength) {
        return std::nullopt;
    }
    return text;
}

std::optional<JournalEntry> parseEntry(const std::vector<std::string_view>& f) {
    if (f.size() != kEntryFields || f[0] != "entry") {
        return std::nullopt;
    }
    JournalEntry e;
    const auto id = decimalField(f[1]);
    const auto started = signedDecimalField(f[2]);
    auto serial = textField(f[3], kMaxJournalText);
    auto unitName = textField(f[4], kMaxJournalText);
    auto unitVersion = textField(f[5], kMaxJournalText);
    auto path = textField(f[6], kMaxJournalPath);
    const auto size = decimalField(f[7]);
    const auto sha = bytesFromHex(f[8], kShaSize);
    auto packageName = textField(f[9], kMaxJournalText);
    auto packageVersion = textField(f[10], kMaxJournalText);
    const auto done = decimalField(f[12]);
    const auto total = decimalField(f[13]);
    const auto state = stateFromName(f[14]);
    auto message = textField(f[15], kMaxJournalText);
    const auto ended = signedDecimalField(f[16]);
    if (!id || *id == 0 || !started || !serial || !unitName || !unitVersion || !path || !size ||
        !sha || !packageName || !packageVersion || !done || !total || *total > UINT32_MAX ||
        *done > *total || !state || !message || !ended || (f[17] != "0" && f[17] != "1")) {
        return std::nullopt;
    }
    if (f[11] != "-") {
        const auto snapshot = bytesFromHex(f[11], kSettingsSize);
        if (!snapshot) {
            return std::nullopt;
        }
        e.snapshot = settingsFromBytes(
            std::span<const std::uint8_t, kSettingsSize>(snapshot->data(), kSettingsSize));
    }
    e.id = *id;
    e.started = *started;
    e.serial = std::move(*serial);
    e.unitName = std::move(*unitName);
    e.unitVersion = std::move(*unitVersion);
    e.packagePath = std::move(*path);
    e.packageSize = *size;
    e.packageSha256 = hexText(*sha);
    e.packageName = std::move(*packageName);
    e.packageVersion = std::move(*packageVersion);
    e.blocksDone = static_cast<std::uint32_t>(*done);
    e.blocksTotal = static_cast<std::uint32_t>(*total);
    e.state = *state;
    e.message = std::move(*message);
    e.ended = *ended;
    e.settingsSettled = f[17] == "1";
    return e;
}

// Cuts a text to what the file keeps, so that what is written always reads back.
std::string bounded(const std::string& text, std::size_t maxLength) {
    return text.size() <= maxLength ? text : text.substr(0, maxLength);
}

} // namespace

const char* stateName(UpdateState state) {
    switch (state) {
    case UpdateState::Running:
        return "running";
    case UpdateState::Failed:
        return "failed";
    case UpdateState::Unconfirmed:
        return "unconfirmed";
    case UpdateState::Refused:
        return "refused";
    case UpdateState::Completed:
        return "completed";
    }
    return "running";
}

JournalParse parseJournal(std::span<const std::uint8_t> file) {
    JournalParse out;
    const auto lines = headedLines(
        file, {kMaxJournalFileSize, kHeader, kJournalEntries, "an update journal", "entries"},
        out.error);
    if (!lines) {
        return out;
    }
    for (std::size_t i = 1; i < lines->size(); ++i) {
        const auto fields = lineFields((*lines)[i]);
        auto entry = fields ? parseEntry(*fields) : std::nullopt;
        // Ids only grow: a repeated or older id is not a file this program wrote.
        if (!entry || (!out.entries.empty() && entry->id <= out.entries.back().id)) {
            out.error = "entry " + std::to_string(i) + " is damaged";
            return out;
        }
        out.entries.push_back(std::move(*entry));
    }
    out.ok = true;
    return out;
}

std::string formatJournal(const std::vector<JournalEntry>& entries) {
    std::string out(kHeader);
    out += '\n';
    for (const JournalEntry& e : entries) {
        const auto sha = bytesFromHex(e.packageSha256, kShaSize);
        const std::string fields[] = {
            "entry",
            std::to_string(e.id),
            std::to_string(e.started),
            escapeField(bounded(e.serial, kMaxJournalText)),
            escapeField(bounded(e.unitName, kMaxJournalText)),
            escapeField(bounded(e.unitVersion, kMaxJournalText)),
            escapeField(bounded(e.packagePath, kMaxJournalPath)),
            std::to_string(e.packageSize),
            sha ? hexText(*sha) : std::string(kShaSize * 2, '0'),
            escapeField(bounded(e.packageName, kMaxJournalText)),
            escapeField(bounded(e.packageVersion, kMaxJournalText)),
            e.snapshot ? hexText(rawBytes(*e.snapshot)) : std::string("-"),
            std::to_string(std::min(e.blocksDone, e.blocksTotal)),
            std::to_string(e.blocksTotal),
            stateName(e.state),
            escapeField(bounded(e.message, kMaxJournalText)),
            std::to_string(e.ended),
            e.settingsSettled ? "1" : "0",
        };
        for (const std::string& f : fields) {
            if (&f != &fields[0]) {
                out += ' ';
            }
            out += f;
        }
        out += '\n';
    }
    return out;
}

UpdateJournal::UpdateJournal(std::filesystem::path file) : file_(std::move(file)) {}

std::string UpdateJournal::load() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    keptBecause_.clear();
    if (file_.empty()) {
        return {};
    }
    const StateLoad loaded =
        loadStateFile(file_, kMaxJournalFileSize, [this](std::span<const std::uint8_t> bytes) {
            JournalParse parsed = parseJournal(bytes);
            if (parsed.ok) {
                entries_ = std::move(parsed.entries);
            }
            return parsed.error;
        });
    switch (loaded.status) {
    case StateLoad::Status::Missing:
    case StateLoad::Status::Loaded:
        return {};
    case StateLoad::Status::SetAside:
        return "The update journal " + file_.string() + " is ignored: " + loaded.why +
               ". It was moved to " + loaded.aside.string() + ".";
    case StateLoad::Status::Kept:
        break;
    }
    // It may hold the entry of an update that was cut off: left for the next run to read.
    keptBecause_ = loaded.why;
    return "The update journal " + file_.string() + " cannot be read (" + loaded.why +
           "). It is left as it is and not written during this run: updates are journalled " +
           "in memory only, and an update cut off before is offered again only once the " +
           "file can be read.";
}

std::vector<JournalEntry> UpdateJournal::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::optional<JournalEntry> UpdateJournal::latestFor(const std::string& serial) const {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->serial == serial) {
            return *it;
        }
    }
    return std::nullopt;
}

UpdateJournal::Added UpdateJournal::add(JournalEntry entry) {
    std::lock_guard lock(mutex_);
    entry.id = entries_.empty() ? 1 : entries_.back().id + 1;
    const std::uint64_t id = entry.id;
    entries_.push_back(std::move(entry));
    if (entries_.size() > kJournalEntries) {
        entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(
                                                                entries_.size() - kJournalEntries));
    }
    return {id, writeLocked()};
}

std::string UpdateJournal::change(std::uint64_t id,
                                  const std::function<void(JournalEntry&)>& edit) {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [id](const JournalEntry& e) { return e.id == id; });
    if (it == entries_.end()) {
        return {};
    }
    edit(*it);
    it->id = id;
    return writeLocked();
}

std::string UpdateJournal::drop(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [id](const JournalEntry& e) { return e.id == id; });
    return writeLocked();
}

std::string UpdateJournal::writeLocked() {
    if (file_.empty()) {
        return {};
    }
    if (!keptBecause_.empty()) {
        return "the update journal " + file_.string() +
               " could not be read and is left as it is (" + keptBecause_ + ")";
    }
    const std::string text = formatJournal(entries_);
    const WriteOutcome w = replaceFile(
        file_, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return w.ok ? std::string() : w.error;
}

ProgressRecorder::ProgressRecorder(UpdateJournal& journal, std::uint64_t id,
                                   std::chrono::milliseconds interval)
    : journal_(journal), id_(id), interval_(interval), thread_([this] { loop(); }) {}

ProgressRecorder::~ProgressRecorder() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_one();
    thread_.join();
}

void ProgressRecorder::blocksDone(std::uint32_t blocks) {
    {
        std::lock_guard lock(mutex_);
        blocks_ = blocks;
        unwritten_ = true;
    }
    changed_.notify_one();
}

std::string ProgressRecorder::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

// A plain condition variable and a flag of its own rather than a stop token: the Windows
// build's C++ library can leave a waiter whose stop callback is running on another thread
// asleep for good, and the end of every update would then hang.
void ProgressRecorder::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return unwritten_ || stopping_; });
        if (!unwritten_) {
            return; // stopped with everything written
        }
        const std::uint32_t blocks = blocks_;
        unwritten_ = false;
        lock.unlock();
        const std::string error =
            journal_.change(id_, [blocks](JournalEntry& e) { e.blocksDone = blocks; });
        lock.lock();
        if (!error.empty()) {
            lastError_ = error;
        }
        if (!stopping_) {
            changed_.wait_for(lock, interval_, [this] { return stopping_; });
        }
        // Then what came meanwhile is written, and the loop ends once nothing is left.
    }
}

} // namespace qx::state
