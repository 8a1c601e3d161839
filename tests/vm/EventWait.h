// SPDX-License-Identifier: GPL-3.0-or-later
// Waiting inside the Qt event loop, so that the HID library's device-change events keep arriving
// while a test waits for their effect, and running the gadget script without blocking that loop.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qx::vm {

// Runs the event loop until `done` holds or `timeout` passes; whether `done` held.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Runs a program to its end with the event loop running; its exit code, -1 when it did not
// start or crashed.
int runTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

// The hidraw node of the test gadget (ids 1209:0001), or "" when there is none.
std::string gadgetNode();

} // namespace qx::vm
