// SPDX-License-Identifier: GPL-3.0-or-later
// The link worker ends whenever it is asked to, whatever it is doing at that moment. Each round
// stops it at a different point of its wait; a stop that can be missed leaves a round hanging,
// which the test's time limit turns into a failure.
#include "link/LinkWorker.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(WorkerStop, EndsWhenAskedAtAnyPointOfItsWait) {
    qx::NoPort port; // no unit: nothing is found, opened or sent
    for (int round = 0; round < 400; ++round) {
        qx::LinkState link;
        qx::Tthr worker(link, port, [] {});
        // From at once (before the worker waits) to well after it has gone to sleep.
        for (int i = 0; i < round % 8; ++i) {
            std::this_thread::yield();
        }
        if (round % 3 == 0) {
            link.wakeWorker(); // the worker looks, finds nothing, and waits again
        }
        // ~Tthr asks for the stop and joins.
    }
    SUCCEED();
}

} // namespace
