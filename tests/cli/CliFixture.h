// SPDX-License-Identifier: GPL-3.0-or-later
// Runs qx77zt's commands in this process over the virtual HID library, with the virtual units
// set up as each case needs them, and keeps what the command printed.
#pragma once

#include "cli/CliMain.h"
#include "link/EmbeddedImage.h"
#include "unit/VirtualBench.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qx::cli::test {

class CapturedOutput : public CliOutput {
public:
    void write(bool error, std::string_view text) override {
        std::lock_guard lock(mutex_);
        (error ? err_ : out_) += text;
        if (!error && onLine) {
            onLine(out_);
        }
    }
    std::string out() const {
        std::lock_guard lock(mutex_);
        return out_;
    }
    std::string err() const {
        std::lock_guard lock(mutex_);
        return err_;
    }
    // Called with everything printed so far after each piece of standard output.
    std::function<void(const std::string&)> onLine;

private:
    mutable std::mutex mutex_;
    std::string out_;
    std::string err_;
};

using BenchSetup = std::function<void(unit::VirtualBench&)>;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    std::string path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }

    CliEnvironment environment(const BenchSetup& setup, const BenchSetup& after = {}) const {
        CliEnvironment env;
        env.image = &embeddedHidImage;
        env.lockDir = dir_.path().toStdString();
        env.journalFile = path("update-journal");
        env.labelsFile = path("unit-labels");
        env.answerLimit = std::chrono::milliseconds(1500);
        env.verdictLimit = std::chrono::milliseconds(5000);
        env.libraryLoaded = [setup](LoadedLibrary& library) {
            unit::VirtualBench& b = bench(library);
            b.reset();
            if (setup) {
                setup(b);
            }
        };
        env.libraryFinished = [after](LoadedLibrary& library) {
            if (after) {
                after(bench(library));
            }
        };
        return env;
    }

    // Runs `args` against virtual units set up by `setup`; `after` sees them once the command
    // has ended.
    CliRun run(const std::vector<std::string>& args, const BenchSetup& setup = {},
               const BenchSetup& after = {}, std::stop_token stop = {}) {
        CapturedOutput output;
        CliRun r;
        r.status = runCli(args, environment(setup, after), output, stop);
        r.out = output.out();
        r.err = output.err();
        return r;
    }

    static unit::VirtualBench& bench(LoadedLibrary& library) {
        auto control = reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"));
        return *control();
    }

    QTemporaryDir dir_;
};

} // namespace qx::cli::test
