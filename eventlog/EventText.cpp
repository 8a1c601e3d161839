// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/EventText.h"

#include "eventlog/EventJson.h"
#include "eventlog/EventTime.h"

#include <cmath>

namespace qx::eventlog {

namespace {

std::string valueText(const std::string& value) {
    if (!value.empty() && value.find_first_of(" \t\n\r\"\\") == std::string::npos) {
        return value;
    }
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

} // namespace

std::string eventDetails(const watch::Event& event) {
    std::string out;
    const auto add = [&out](const std::string& key, const std::string& value) {
        if (!out.empty()) {
            out += ' ';
        }
        out += key;
        out += '=';
        out += value;
    };
    for (const auto& [key, value] : event.texts) {
        add(key, valueText(value));
    }
    for (const auto& [key, value] : event.numbers) {
        add(key, std::isfinite(value) ? jsonNumber(value) : "-");
    }
    return out;
}

std::string unitShown(const watch::Event& event) {
    if (!event.unit.empty()) {
        return event.unit;
    }
    if (!event.serial.empty()) {
        return event.serial;
    }
    return "-";
}

std::string eventText(const watch::Event& event) {
    std::string line = formatLocal(event.time) + "  " + unitShown(event) + "  " + event.kind;
    const std::string details = eventDetails(event);
    if (!details.empty()) {
        line += "  " + details;
    }
    return line;
}

} // namespace qx::eventlog
