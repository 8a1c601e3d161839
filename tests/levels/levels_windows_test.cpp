// SPDX-License-Identifier: GPL-3.0-or-later
// The history's time stamps on Windows: the run-time has no tm_gmtoff, takes TZ in its own form
// (name, hours west, an optional name of summer time) and knows no time before 1970.
#include "levels/LevelText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

// A fixed time zone for the test's duration.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        _putenv_s("TZ", zone);
        _tzset();
    }
    ~ZoneGuard() {
        _putenv_s("TZ", old_ ? old_->c_str() : "");
        _tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    std::optional<std::string> old_;
};

TEST(LevelTextWindows, IsoLocalTimeCarriesTheZonesOffset) {
    struct Case {
        const char* zone;
        int64_t ms;
        const char* text;
    };
    // 1'796'917'327'300 ms is 2026-12-10 15:42:07.300 UTC. East of UTC is a positive offset.
    for (const Case c : {Case{"UTC0", 1'796'917'327'300, "2026-12-10T15:42:07.300+00:00"},
                         Case{"EST5", 1'796'917'327'300, "2026-12-10T10:42:07.300-05:00"},
                         Case{"IST-5:30", 1'796'917'327'300, "2026-12-10T21:12:07.300+05:30"},
                         Case{"NST3:30", 1'796'917'327'999, "2026-12-10T12:12:07.999-03:30"},
                         // 22:59:59 UTC, nine hours east: the local date is the next day.
                         Case{"JST-9", 1'796'943'599'000, "2026-12-11T07:59:59.000+09:00"}}) {
        ZoneGuard zone(c.zone);
        EXPECT_EQ(qx::levels::isoLocalTime(c.ms), c.text) << c.zone;
    }
}

TEST(LevelTextWindows, BeforeNineteenSeventyIsGivenInUtc) {
    ZoneGuard zone("EST5");
    EXPECT_EQ(qx::levels::isoLocalTime(-1), "1969-12-31T23:59:59.999+00:00");
    EXPECT_EQ(qx::levels::isoLocalTime(-86'400'000LL * 365), "1969-01-01T00:00:00.000+00:00");
}

} // namespace
