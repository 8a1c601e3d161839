// SPDX-License-Identifier: GPL-3.0-or-later
// The units a program holds in its room, as the command line's service sees them: shared by the
// window program and the monitor, so that both answer qx77zt's requests alike.
#pragma once

#include "cli/AnswerBox.h"
#include "cli/WindowCliService.h"

#include <deque>
#include <vector>

namespace qx::room {
class UnitRoom;
}

namespace qx::cli {

// Every unit of `room`, in its order. `answers` holds one box per unit, in the same order (given
// to each unit as it is added); both outlive the service that asks.
std::vector<WindowUnit> roomUnits(room::UnitRoom& room, std::deque<AnswerBox>& answers);

} // namespace qx::cli
