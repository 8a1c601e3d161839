// SPDX-License-Identifier: GPL-3.0-or-later
// The unit's side of a USB HID gadget: output reports read from the gadget's report node go into a
// virtual unit, and the unit's answer reports are written back there. Restarts change the
// gadget's product string, which the host sees as the unit going away and coming back.
//
// One thread, one poll(): it sleeps until a report arrives, the node can take the next answer, an
// answer falls due, or a control request comes in.
#pragma once

#include "unit/VirtualUnit.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace qx::gadget {

enum class Control { None, RestartBoot, RestartNormal, Dump, Quit };

// What the loop needs from the outside world; tests replace each one.
struct GadgetHooks {
    // Opens the report node for non-blocking reading and writing; -1 on failure.
    std::function<int()> openWire;
    // Takes the gadget off the bus, gives it `product` as its product string and plugs it back.
    std::function<bool(const std::string& product)> rename;
    // Saves the unit's memories and settings where the test can compare them.
    std::function<bool(const unit::VirtualUnit&)> dump;
    // Reads one pending control request from `controlFd` (readable when called).
    std::function<Control(int controlFd)> takeControl;
    // One line of progress for the person reading the test's output.
    std::function<void(const std::string&)> say;
    // Called as each answer report has gone onto the node (may be empty).
    std::function<void()> answerWritten;
};

class GadgetLoop {
public:
    GadgetLoop(unit::VirtualUnit& unit, GadgetHooks hooks, int controlFd);
    ~GadgetLoop();
    GadgetLoop(const GadgetLoop&) = delete;
    GadgetLoop& operator=(const GadgetLoop&) = delete;

    // Runs until a Quit request; dumps the memories on the way out. 0 when every restart and
    // dump worked, 1 otherwise.
    int run();

    std::size_t waitingAnswers() const { return outgoing_.size(); }

private:
    bool openWire();
    void closeWire();
    void readReports();
    void collectAnswers();
    void writeAnswers();
    bool restart(bool boot);
    int pollTimeoutMs() const;

    unit::VirtualUnit& unit_;
    GadgetHooks hooks_;
    int controlFd_;
    int wire_ = -1;
    std::deque<unit::Report> outgoing_;
    // Set from the unit's restart handler, acted on by the loop outside the unit's call.
    std::optional<bool> restartRequest_;
    bool failed_ = false;
};

} // namespace qx::gadget
