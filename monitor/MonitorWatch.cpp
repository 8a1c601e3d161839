// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorWatch.h"

#include "watch/AlarmConfig.h"
#include "watch/WatchKeeper.h"

#include <memory>

namespace qx::monitor {

std::function<MonitorHooks(const std::filesystem::path& stateFolder)> watchHooks(bool demo) {
    return [demo](const std::filesystem::path& stateFolder) {
        auto keeper = std::make_shared<watch::WatchKeeper>(watch::WatchKeeper::Setup{
            stateFolder, watch::alarmConfigPathFromEnvironment(demo ? "qx77zt-demo" : "qx77zt"),
            "monitor"});
        MonitorHooks hooks;
        hooks.started = [keeper](room::UnitRoom& room) { keeper->watchRoom(&room); };
        // The summaries of the minute under way and the raised alarms are on the disk before
        // the window program reads them.
        hooks.beforeRelease = [keeper] {
            keeper->watchRoom(nullptr);
            keeper->programEvent("handed the units over");
            keeper->flush();
        };
        hooks.afterTake = [keeper] { keeper->programEvent("took the units back"); };
        hooks.stopping = [keeper] {
            keeper->watchRoom(nullptr);
            keeper->flush();
        };
        return hooks;
    };
}

} // namespace qx::monitor
