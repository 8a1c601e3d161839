// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RoomUnits.h"

#include "panel/UnitAccessHint.h"
#include "room/UnitRoom.h"

namespace qx::cli {

std::vector<WindowUnit> roomUnits(room::UnitRoom& room, std::deque<AnswerBox>& answers) {
    std::vector<WindowUnit> units;
    for (int i = 0; i < room.count(); ++i) {
        room::RoomUnit& u = room.unit(i);
        WindowUnit w;
        w.connected = u.link().connected;
        if (!u.facts().inaccessiblePath.empty()) {
            w.inaccessible = unitAccessHint(u.facts().inaccessiblePath,
                                            probeUnitAccess(u.facts().inaccessiblePath))
                                 .text;
        }
        w.unit = {u.facts().product, u.facts().serial, u.facts().version, u.link().bootMode};
        w.path = u.path();
        w.place = u.key().place;
        w.label = u.label();
        w.state = room::stateWord(u.state());
        w.link = &u.link();
        w.answers = &answers.at(static_cast<std::size_t>(i));
        units.push_back(std::move(w));
    }
    return units;
}

} // namespace qx::cli
