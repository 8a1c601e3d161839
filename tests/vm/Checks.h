// SPDX-License-Identifier: GPL-3.0-or-later
// One line per check, "ok" or "FAIL", and a summary; the programs in this folder exit 1 on any
// failed check.
#pragma once

#include <cstdio>
#include <string>

namespace qx::vm {

class Checks {
public:
    explicit Checks(std::string name) : name_(std::move(name)) {}
    bool expect(bool ok, const std::string& what, const std::string& detail = {}) {
        std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                    detail.c_str());
        std::fflush(stdout);
        (ok ? passed_ : failed_)++;
        return ok;
    }
    void step(const std::string& title) {
        std::printf("---- %s\n", title.c_str());
        std::fflush(stdout);
    }
    bool allPassed() const { return failed_ == 0 && passed_ > 0; }
    void summary() const {
        std::printf("%s: %d of %d checks passed\n", name_.c_str(), passed_, passed_ + failed_);
        std::fflush(stdout);
    }

private:
    std::string name_;
    int passed_ = 0;
    int failed_ = 0;
};

} // namespace qx::vm
