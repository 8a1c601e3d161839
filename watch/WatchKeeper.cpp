// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/WatchKeeper.h"

#include "watch/AlarmConfig.h"
#include "watch/WatchState.h"

#include <cstdio>
#include <system_error>
#include <utility>

namespace qx::watch {

WatchKeeper::WatchKeeper(Setup setup, QObject* parent) : QObject(parent), setup_(std::move(setup)) {
    // The log's bounds are read once: the log is made with them.
    checkConfig();
    if (!setup_.stateFolder.empty()) {
        eventlog::EventLogOptions options;
        options.limits.maxDays = settings_.log.maxDays;
        options.limits.maxBytes = settings_.log.maxBytes;
        options.onError = [this](const std::string& why) {
            queueProblem("The event log cannot be written: " + why);
        };
        log_ =
            std::make_unique<eventlog::EventLog>(setup_.stateFolder / "events", std::move(options));
    }
    notifier_ = std::make_unique<DesktopNotifier>([this](const std::string& why) {
        if (watch_) {
            watch_->noticesFailed(why);
        }
    });
    command_ =
        std::make_unique<CommandAction>([this](const AlarmFacts& facts, const std::string& why) {
            if (watch_) {
                watch_->actionFailed(facts, why);
            }
            tell("The alarm command for " + facts.unit + " did not run well: " + why);
        });
    configTimer_.setInterval(setup_.configCheck);
    connect(&configTimer_, &QTimer::timeout, this, &WatchKeeper::checkConfig);
    if (!setup_.configFile.empty()) {
        configTimer_.start();
    }
    programEvent("started");
}

WatchKeeper::~WatchKeeper() {
    watchRoom(nullptr);
    programEvent("stopped");
    // The commands still running are killed with the action; their ends are told to no one.
    command_.reset();
    notifier_.reset();
    // Writes what is queued and ends the log's thread while what it reports to is still here.
    log_.reset();
}

void WatchKeeper::watchRoom(room::UnitRoom* room) {
    if (watch_) {
        watch_->flush();
        watch_.reset();
    }
    if (room == nullptr) {
        return;
    }
    UnitWatch::Setup setup;
    setup.settings = settings_;
    setup.notifier = notifier_.get();
    setup.command = command_.get();
    if (!setup_.stateFolder.empty()) {
        setup.stateFile = setup_.stateFolder / kWatchStateName;
    }
    setup.problem = [this](const std::string& text) { tell(text); };
    watch_ = std::make_unique<UnitWatch>(*room, log_ ? static_cast<EventSink&>(*log_) : noSink_,
                                         std::move(setup));
    connect(watch_.get(), &UnitWatch::alarmsChanged, this, &WatchKeeper::alarmsChanged);
    emit alarmsChanged();
}

void WatchKeeper::reloadConfig() {
    configSeen_.reset();
    configMissingSeen_ = false;
    checkConfig();
}

void WatchKeeper::checkConfig() {
    if (setup_.configFile.empty()) {
        return;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(setup_.configFile, ec);
    if (ec) {
        // No file: every alarm off, as when the program started without one.
        if (!configMissingSeen_) {
            configMissingSeen_ = true;
            configSeen_.reset();
            applySettings(AlarmSettings{});
        }
        return;
    }
    const auto changed = std::filesystem::last_write_time(setup_.configFile, ec);
    if (ec) {
        return;
    }
    configMissingSeen_ = false;
    if (configSeen_ && configSeen_->first == size && configSeen_->second == changed) {
        return;
    }
    configSeen_ = std::make_pair(size, changed);
    const ConfigLoad load = loadAlarmConfig(setup_.configFile);
    switch (load.status) {
    case ConfigLoad::Status::Missing:
    case ConfigLoad::Status::Loaded:
        applySettings(load.settings);
        break;
    case ConfigLoad::Status::Refused:
        tell(load.error + " (the alarms stay as they were)");
        break;
    }
}

void WatchKeeper::applySettings(const AlarmSettings& settings) {
    settings_ = settings;
    if (watch_) {
        watch_->setSettings(settings_);
    }
}

void WatchKeeper::programEvent(const std::string& what) {
    if (!log_) {
        return;
    }
    Event e;
    e.time = std::chrono::system_clock::now();
    e.kind = std::string(kind::kProgram);
    e.texts = {{"program", setup_.program}, {"what", what}};
    log_->record(e);
}

void WatchKeeper::flush() {
    if (watch_) {
        watch_->flush();
    }
    if (log_) {
        log_->flush();
    }
}

std::filesystem::path WatchKeeper::logFolder() const {
    return log_ ? log_->folder() : std::filesystem::path();
}

void WatchKeeper::tell(const std::string& text) {
    std::fprintf(stderr, "qx77zt: %s\n", text.c_str());
    emit problem(QString::fromStdString(text));
}

void WatchKeeper::queueProblem(const std::string& text) {
    {
        std::lock_guard lock(problemsMutex_);
        problems_.push_back(text);
    }
    // By name: nothing made on the log's thread is handed to this one but the queued call.
    QMetaObject::invokeMethod(this, "takeProblems", Qt::QueuedConnection);
}

void WatchKeeper::takeProblems() {
    std::vector<std::string> taken;
    {
        std::lock_guard lock(problemsMutex_);
        taken.swap(problems_);
    }
    for (const std::string& text : taken) {
        tell(text);
    }
}

} // namespace qx::watch
