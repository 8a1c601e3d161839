// SPDX-License-Identifier: GPL-3.0-or-later
// What the update window checks and says before an update that did not finish is run again.
#pragma once

#include "state/UpdateJournal.h"

#include <QString>

#include <cstdint>
#include <span>

namespace qx {

// Why the package of `entry` cannot be run again as it was: gone, unreadable or changed since.
// Empty when `file` (its bytes as read now) is the very package the entry recorded.
QString packageChangeReason(const state::JournalEntry& entry, bool readable,
                            std::span<const std::uint8_t> file);

// The recovery offer's text: which package and version, and how far the transfer got.
QString recoveryText(const state::JournalEntry& entry);

} // namespace qx
