// SPDX-License-Identifier: GPL-3.0-or-later
// A room over a bench of virtual units, as the demo program makes it: every unit on its own copy
// of the virtual HID library, the first copy holding the bench and every later one joining it.
#pragma once

#include "link/EmbeddedImage.h"
#include "room/UnitRoom.h"
#include "unit/VirtualBench.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace qx::bench {

// Seconds each span measures: QX_BENCH_SECONDS, or `fallback`.
inline double spanSeconds(double fallback) {
    const char* text = std::getenv("QX_BENCH_SECONDS");
    const double chosen = text != nullptr ? std::atof(text) : 0.0;
    return chosen > 0 ? chosen : fallback;
}

// Runs the event loop of this thread for `seconds`; returns the seconds it ran.
inline double runEvents(double seconds) {
    const auto start = std::chrono::steady_clock::now();
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)),
                       Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct RoomRig {
    unit::VirtualBench* bench = nullptr;
    std::unique_ptr<room::UnitRoom> room;

    // `shownAnswered` as the window program sets it (empty: no window).
    explicit RoomRig(int units, std::function<void()> shownAnswered = {}) {
        room::UnitRoom::Setup setup;
        setup.image = &embeddedHidImage;
        setup.libraryLoaded = [this, units](LoadedLibrary& library) {
            if (bench == nullptr) {
                bench = reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))();
                for (int i = bench->unitCount(); i < units; ++i) {
                    unit::Identity id;
                    id.serial = "QX7700000" + std::to_string(100 + i);
                    bench->setPlugged(bench->addUnit(id), true);
                }
            } else {
                reinterpret_cast<decltype(&VUjoin)>(library.symbol("VUjoin"))(bench);
            }
        };
        setup.shownAnswered = std::move(shownAnswered);
        room = std::make_unique<room::UnitRoom>(setup);
    }
    ~RoomRig() { room.reset(); }

    // Starts the room and waits (events running) until every unit answers; false if not within
    // ten seconds.
    bool startAndWaitForAnswers(int units) {
        if (!room->start() || room->count() != units) {
            return false;
        }
        const QDeadlineTimer deadline(std::chrono::seconds(10));
        while (!deadline.hasExpired()) {
            bool all = true;
            for (int i = 0; i < room->count(); ++i) {
                all = all && room->unit(i).link().answersStored() >= 3;
            }
            if (all) {
                return true;
            }
            runEvents(0.05);
        }
        return false;
    }
    uint64_t answersStored() const {
        uint64_t n = 0;
        for (int i = 0; i < room->count(); ++i) {
            n += room->unit(i).link().answersStored();
        }
        return n;
    }
};

} // namespace qx::bench
