// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/AlarmEngine.h"

namespace qx::watch {

namespace {

enum class Judged { Present, Absent, Paused };

Judged judge(AlarmKind kind, const AlarmRules& rules, const UnitSample& s) {
    switch (kind) {
    case AlarmKind::Silence: {
        if (s.condition != UnitCondition::Answering || s.updating) {
            return Judged::Paused;
        }
        const auto silent =
            silentLevels(s.leftDb, s.rightDb, rules.silenceLevelDb, rules.silenceChannels);
        if (!silent) {
            return Judged::Paused;
        }
        return *silent ? Judged::Present : Judged::Absent;
    }
    case AlarmKind::Over:
        return s.overLatched ? Judged::Present : Judged::Absent;
    case AlarmKind::Lost:
        if (s.updating) {
            return Judged::Paused;
        }
        return s.condition == UnitCondition::Lost ? Judged::Present : Judged::Absent;
    case AlarmKind::BootLoader:
        if (s.updating) {
            return Judged::Paused;
        }
        return s.condition == UnitCondition::BootLoader ? Judged::Present : Judged::Absent;
    }
    return Judged::Paused;
}

} // namespace

std::optional<bool> silentLevels(std::optional<double> leftDb, std::optional<double> rightDb,
                                 double levelDb, SilenceChannels channels) {
    if (!leftDb || !rightDb) {
        return std::nullopt;
    }
    const bool left = *leftDb < levelDb;
    const bool right = *rightDb < levelDb;
    return channels == SilenceChannels::Both ? (left && right) : (left || right);
}

std::vector<AlarmTransition> AlarmEngine::feed(const std::string& unit, const AlarmRules& rules,
                                               const UnitSample& sample) {
    std::vector<AlarmTransition> out;
    auto& tracks = units_[unit];
    const auto t = sample.time;
    for (const AlarmKind kind : kAllAlarms) {
        Track& track = tracks[indexOf(kind)];
        const AlarmRule& rule = rules[kind];
        if (!rule.on) {
            track.heldSince.reset();
            track.goneSince.reset();
            if (track.raised) {
                track.raised = false;
                out.push_back({kind, false, t, t});
            }
            continue;
        }
        switch (judge(kind, rules, sample)) {
        case Judged::Paused:
            track.heldSince.reset();
            track.goneSince.reset();
            break;
        case Judged::Present:
            track.goneSince.reset();
            if (!track.raised) {
                if (!track.heldSince) {
                    track.heldSince = t;
                }
                if (t - *track.heldSince >= rule.after) {
                    track.raised = true;
                    out.push_back({kind, true, t, *track.heldSince});
                    track.heldSince.reset();
                }
            }
            break;
        case Judged::Absent:
            track.heldSince.reset();
            if (track.raised) {
                if (!track.goneSince) {
                    track.goneSince = t;
                }
                if (t - *track.goneSince >= rule.clear) {
                    track.raised = false;
                    out.push_back({kind, false, t, *track.goneSince});
                    track.goneSince.reset();
                }
            }
            break;
        }
    }
    return out;
}

void AlarmEngine::setRaised(const std::string& unit, AlarmKind kind) {
    Track& track = units_[unit][indexOf(kind)];
    track.raised = true;
    track.heldSince.reset();
    track.goneSince.reset();
}

bool AlarmEngine::raised(const std::string& unit, AlarmKind kind) const {
    const auto it = units_.find(unit);
    return it != units_.end() && it->second[indexOf(kind)].raised;
}

std::vector<std::pair<std::string, AlarmKind>> AlarmEngine::raisedAlarms() const {
    std::vector<std::pair<std::string, AlarmKind>> out;
    for (const auto& [unit, tracks] : units_) {
        for (const AlarmKind kind : kAllAlarms) {
            if (tracks[indexOf(kind)].raised) {
                out.emplace_back(unit, kind);
            }
        }
    }
    return out;
}

} // namespace qx::watch
