// SPDX-License-Identifier: GPL-3.0-or-later
#include "room/RoomUnit.h"

namespace qx::room {

const char* stateWord(UnitState state) {
    switch (state) {
    case UnitState::Unplugged:
        return "unplugged";
    case UnitState::Connected:
        return "connected";
    case UnitState::NotAnswering:
        return "not answering";
    case UnitState::BootLoader:
        return "boot loader";
    case UnitState::Updating:
        return "updating";
    case UnitState::NoAccess:
        return "no access";
    case UnitState::Refused:
        return "not usable";
    }
    return "";
}

void AnswerRelay::finishAnswer(bool success) {
    if (AnswerSink* w = window.load()) {
        w->finishAnswer(success);
    }
    if (AnswerSink* c = command.load()) {
        c->finishAnswer(success);
    }
}

void AnswerRelay::resetAnswer() {
    if (AnswerSink* w = window.load()) {
        w->resetAnswer();
    }
    if (AnswerSink* c = command.load()) {
        c->resetAnswer();
    }
}

void ErrorRelay::showError(const std::string& text) {
    if (target == nullptr) {
        return;
    }
    target->showError(several_.load()
                          ? "Unit " + (serial_.empty() ? "(no serial)" : serial_) + ": " + text
                          : text);
}

RoomUnit::~RoomUnit() {
    usb_.reset(); // stops the worker and the library's reader before the records go
}

UnitState RoomUnit::state() const {
    if (link_.transferRunning) {
        return UnitState::Updating;
    }
    if (!facts_.inaccessiblePath.empty()) {
        return UnitState::NoAccess;
    }
    if (facts_.refused) {
        return UnitState::Refused;
    }
    if (!link_.connected) {
        return UnitState::Unplugged;
    }
    if (link_.bootMode) {
        return UnitState::BootLoader;
    }
    // Polled ten times a second: a second without an answer is silence.
    const auto last = link_.lastAnswerAt();
    if (!last || LinkState::Clock::now() - *last > std::chrono::seconds(1)) {
        return UnitState::NotAnswering;
    }
    return UnitState::Connected;
}

std::string RoomUnit::name() const {
    return label_.empty() ? keyText(key_) : label_;
}

void RoomUnit::attachView(ConnectionView* view) {
    view_ = view;
    if (view_ == nullptr) {
        return;
    }
    view_->setDeviceFields(facts_.product, facts_.serial, facts_.version);
    view_->setUpdateButtonsEnabled(facts_.updateButtonsEnabled);
    view_->setControlsEnabled(facts_.controlsEnabled);
    if (facts_.refused) {
        view_->setUnitRefused(facts_.refused->outputLength, facts_.refused->inputLength);
    } else {
        view_->setUnitInaccessible(facts_.inaccessiblePath);
    }
}

void RoomUnit::setControlsEnabled(bool enabled) {
    facts_.controlsEnabled = enabled;
    if (view_) {
        view_->setControlsEnabled(enabled);
    }
}

void RoomUnit::setDeviceFields(const std::string& name, const std::string& serial,
                               const std::string& version) {
    facts_.product = name;
    facts_.serial = serial;
    facts_.version = version;
    if (view_) {
        view_->setDeviceFields(name, serial, version);
    }
}

void RoomUnit::setUpdateButtonsEnabled(bool enabled) {
    facts_.updateButtonsEnabled = enabled;
    if (view_) {
        view_->setUpdateButtonsEnabled(enabled);
    }
}

void RoomUnit::setUnitInaccessible(const std::string& path) {
    facts_.inaccessiblePath = path;
    facts_.refused.reset();
    if (view_) {
        view_->setUnitInaccessible(path);
    }
}

void RoomUnit::setUnitRefused(uint16_t outputLength, uint16_t inputLength) {
    facts_.refused = ConnectionFacts::Refusal{outputLength, inputLength};
    facts_.inaccessiblePath.clear();
    if (view_) {
        view_->setUnitRefused(outputLength, inputLength);
    }
}

} // namespace qx::room
