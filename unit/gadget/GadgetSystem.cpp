// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/gadget/GadgetSystem.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>

#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qx::gadget {

namespace fs = std::filesystem;

namespace {

sigset_t controlSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGUSR1, SIGUSR2, SIGHUP, SIGTERM, SIGINT}) {
        sigaddset(&set, s);
    }
    return set;
}

bool writeWhole(const fs::path& file, std::span<const std::uint8_t> bytes) {
    const fs::path partial = fs::path(file).concat(".partial");
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            return false;
        }
    }
    std::error_code error;
    fs::rename(partial, file, error);
    return !error;
}

} // namespace

int runProgram(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return -1;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    // The control signals are blocked here; the child must not inherit that.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, args[0], nullptr, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool dumpMemories(const unit::VirtualUnit& unit, const fs::path& dir) {
    const std::vector<std::uint8_t> flash = unit.flash();
    const std::vector<std::uint8_t> eeprom = unit.eeprom();
    const DeviceSettings settings = unit.settings();
    std::string requests;
    for (const auto& [command, count] : unit.counters().byCommand) {
        char line[32];
        std::snprintf(line, sizeof line, "%02x %u\n", command, count);
        requests += line;
    }
    const auto* text = reinterpret_cast<const std::uint8_t*>(requests.data());
    return writeWhole(dir / "flash.bin", flash) && writeWhole(dir / "eeprom.bin", eeprom) &&
           writeWhole(dir / "settings.bin", rawBytes(settings)) &&
           writeWhole(dir / "requests.txt", {text, requests.size()});
}

void AnswerTimes::note() {
    if (times_.size() == capacity_) {
        times_.pop_front();
    }
    times_.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count());
}

bool AnswerTimes::write(const fs::path& file) const {
    std::string text;
    for (const std::int64_t t : times_) {
        text += std::to_string(t);
        text += '\n';
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return writeWhole(file, {bytes, text.size()});
}

int openControlSignals() {
    const sigset_t set = controlSignals();
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        return -1;
    }
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

Control takeSignal(int signalFd) {
    signalfd_siginfo info{};
    if (::read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
        return Control::None;
    }
    switch (info.ssi_signo) {
    case SIGUSR1:
        return Control::RestartBoot;
    case SIGUSR2:
        return Control::RestartNormal;
    case SIGHUP:
        return Control::Dump;
    case SIGTERM:
    case SIGINT:
        return Control::Quit;
    default:
        return Control::None;
    }
}

} // namespace qx::gadget
