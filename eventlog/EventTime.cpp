// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/EventTime.h"

#include <cstdio>
#include <ctime>

namespace qx::eventlog {

namespace {

using namespace std::chrono;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads exactly `count` digits at `pos`; -1 when they are not there.
int digits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos > text.size() || text.size() - pos < count) {
        return -1;
    }
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (!isDigit(c)) {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

struct Civil {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    nanoseconds fraction{0};
    // Set when the text names its zone: the offset from UTC.
    std::optional<minutes> offset;
};

// "YYYY-MM-DD", then optionally 'T' or ' ' and "HH:MM", ":SS", ".fraction", then optionally
// "Z" or "+HH:MM" / "+HHMM" / "+HH". `needSeconds` asks for the log's own strict form.
std::optional<Civil> parseCivil(std::string_view text, bool allowDateOnly) {
    Civil c;
    c.year = digits(text, 0, 4);
    c.month = digits(text, 5, 2);
    c.day = digits(text, 8, 2);
    if (c.year < 0 || c.month < 0 || c.day < 0 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    std::size_t pos = 10;
    if (pos == text.size()) {
        if (!allowDateOnly) {
            return std::nullopt;
        }
        return c;
    }
    if (text[pos] != 'T' && text[pos] != ' ') {
        return std::nullopt;
    }
    ++pos;
    c.hour = digits(text, pos, 2);
    if (c.hour < 0 || pos + 2 >= text.size() || text[pos + 2] != ':') {
        return std::nullopt;
    }
    c.minute = digits(text, pos + 3, 2);
    if (c.minute < 0) {
        return std::nullopt;
    }
    pos += 5;
    if (pos < text.size() && text[pos] == ':') {
        c.second = digits(text, pos + 1, 2);
        if (c.second < 0) {
            return std::nullopt;
        }
        pos += 3;
        if (pos < text.size() && text[pos] == '.') {
            ++pos;
            std::size_t n = 0;
            std::int64_t ns = 0;
            while (pos < text.size() && isDigit(text[pos])) {
                if (n == 9) {
                    return std::nullopt;
                }
                ns = ns * 10 + (text[pos] - '0');
                ++n;
                ++pos;
            }
            if (n == 0) {
                return std::nullopt;
            }
            for (std::size_t i = n; i < 9; ++i) {
                ns *= 10;
            }
            c.fraction = nanoseconds(ns);
        }
    }
    if (c.hour > 23 || c.minute > 59 || c.second > 59) {
        return std::nullopt;
    }
    if (pos == text.size()) {
        return c;
    }
    if (text[pos] == 'Z') {
        c.offset = minutes(0);
        ++pos;
    } else if (text[pos] == '+' || text[pos] == '-') {
        const int sign = text[pos] == '-' ? -1 : 1;
        const int h = digits(text, pos + 1, 2);
        if (h < 0 || h > 23) {
            return std::nullopt;
        }
        pos += 3;
        int m = 0;
        if (pos < text.size()) {
            if (text[pos] == ':') {
                ++pos;
            }
            m = digits(text, pos, 2);
            if (m < 0 || m > 59) {
                return std::nullopt;
            }
            pos += 2;
        }
        c.offset = minutes(sign * (h * 60 + m));
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return c;
}

std::optional<sys_days> dayOf(const Civil& c) {
    // Far enough either way for any clock, near enough that no sum of durations overflows.
    if (c.year < 1900 || c.year > 2200) {
        return std::nullopt;
    }
    const year_month_day ymd{year{c.year}, month{static_cast<unsigned>(c.month)},
                             day{static_cast<unsigned>(c.day)}};
    if (!ymd.ok()) {
        return std::nullopt;
    }
    return sys_days(ymd);
}

TimePoint utcOf(sys_days day, const Civil& c) {
    const auto t = day + hours(c.hour) + minutes(c.minute) + seconds(c.second) + c.fraction;
    return time_point_cast<Clock::duration>(t);
}

std::tm brokenDownLocal(std::time_t t) {
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

} // namespace

std::string formatUtc(TimePoint time) {
    const auto ms = floor<milliseconds>(time);
    const sys_days day = floor<days>(ms);
    const year_month_day ymd(day);
    const hh_mm_ss<milliseconds> tod(ms - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(tod.hours().count()),
                  static_cast<int>(tod.minutes().count()), static_cast<int>(tod.seconds().count()),
                  static_cast<int>(tod.subseconds().count()));
    return text;
}

std::optional<TimePoint> parseUtc(std::string_view text) {
    // Only the log's own form: date, 'T', time with seconds, 'Z'.
    if (text.size() < 20 || text[10] != 'T' || text.back() != 'Z' || text[16] != ':') {
        return std::nullopt;
    }
    const std::optional<Civil> c = parseCivil(text, false);
    if (!c || !c->offset || c->offset->count() != 0) {
        return std::nullopt;
    }
    const std::optional<sys_days> day = dayOf(*c);
    if (!day) {
        return std::nullopt;
    }
    return utcOf(*day, *c);
}

sys_days utcDay(TimePoint time) {
    return floor<days>(time);
}

std::string dailyFileName(sys_days day) {
    const year_month_day ymd(day);
    char text[40];
    std::snprintf(text, sizeof text, "events-%04d-%02u-%02u.jsonl", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return text;
}

std::optional<sys_days> dayOfFileName(std::string_view name) {
    constexpr std::string_view kPrefix = "events-";
    constexpr std::string_view kSuffix = ".jsonl";
    if (name.size() != kPrefix.size() + 10 + kSuffix.size() || !name.starts_with(kPrefix) ||
        !name.ends_with(kSuffix)) {
        return std::nullopt;
    }
    const std::optional<Civil> c = parseCivil(name.substr(kPrefix.size(), 10), true);
    if (!c) {
        return std::nullopt;
    }
    return dayOf(*c);
}

std::string formatLocal(TimePoint time) {
    const std::tm tm = brokenDownLocal(Clock::to_time_t(floor<seconds>(time)));
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::optional<TimePoint> parseUserTime(std::string_view text, TimePoint now) {
    if (text.empty()) {
        return std::nullopt;
    }
    // Relative: a count and one unit letter.
    if (text.size() >= 2 && text.size() <= 8 && isDigit(text.front())) {
        const char unit = text.back();
        std::int64_t count = 0;
        bool relative = true;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            if (!isDigit(text[i])) {
                relative = false;
                break;
            }
            count = count * 10 + (text[i] - '0');
        }
        // At most a century back: anything more is a typing error, and would overflow.
        constexpr std::int64_t kMaxSeconds = 100LL * 366 * 86400;
        const std::int64_t unitSeconds = unit == 's'   ? 1
                                         : unit == 'm' ? 60
                                         : unit == 'h' ? 3600
                                         : unit == 'd' ? 86400
                                         : unit == 'w' ? 7 * 86400
                                                       : 0;
        if (relative && (unitSeconds == 0 || count > kMaxSeconds / unitSeconds)) {
            return std::nullopt;
        }
        if (relative) {
            switch (unit) {
            case 's':
                return now - seconds(count);
            case 'm':
                return now - minutes(count);
            case 'h':
                return now - hours(count);
            case 'd':
                return now - days(count);
            case 'w':
                return now - weeks(count);
            default:
                return std::nullopt;
            }
        }
    }
    if (text.size() < 10) {
        return std::nullopt;
    }
    const std::optional<Civil> c = parseCivil(text, true);
    if (!c) {
        return std::nullopt;
    }
    const std::optional<sys_days> day = dayOf(*c);
    if (!day) {
        return std::nullopt;
    }
    if (c->offset) {
        return utcOf(*day, *c) - *c->offset;
    }
    // Local time: the C library knows the zone's rules, summer time too.
    std::tm tm{};
    tm.tm_year = c->year - 1900;
    tm.tm_mon = c->month - 1;
    tm.tm_mday = c->day;
    tm.tm_hour = c->hour;
    tm.tm_min = c->minute;
    tm.tm_sec = c->second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return time_point_cast<Clock::duration>(Clock::from_time_t(t) + c->fraction);
}

} // namespace qx::eventlog
