// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/StatusLine.h"

#include <gtest/gtest.h>

namespace qx::panel {
namespace {

using std::chrono::milliseconds;

TEST(StatusLine, OneConditionPerLinkState) {
    const auto unit = [](milliseconds silent, std::optional<milliseconds> unconfirmed) {
        LinkView v;
        v.connected = true;
        v.name = "QX-77ZT";
        v.serial = "S1";
        v.version = "1.2";
        v.silentFor = silent;
        v.unconfirmedFor = unconfirmed;
        return v;
    };
    const auto damaged = [](LinkView v) {
        v.damagedAnswers = 3;
        return v;
    };
    LinkView boot = unit(milliseconds(5000), milliseconds(5000));
    boot.bootMode = true;
    LinkView gone = boot;
    gone.connected = false;
    struct Row {
        const char* what;
        LinkView view;
        LinkCondition condition;
        bool stale;
    };
    const Row rows[] = {
        {"nothing found", LinkView{}, LinkCondition::NoUnit, false},
        {"a boot loader sends no status", boot, LinkCondition::BootLoader, false},
        {"unplugged while in boot mode", gone, LinkCondition::NoUnit, false},
        {"answering", unit(milliseconds(100), std::nullopt), LinkCondition::Connected, false},
        {"one second is not yet silence", unit(milliseconds(1000), std::nullopt),
         LinkCondition::Connected, false},
        {"silent", unit(milliseconds(1001), std::nullopt), LinkCondition::Silent, true},
        {"half a second is not yet waiting", unit(milliseconds(0), milliseconds(500)),
         LinkCondition::Connected, false},
        {"waiting", unit(milliseconds(0), milliseconds(501)), LinkCondition::Unconfirmed, false},
        {"silence outranks waiting", unit(milliseconds(1500), milliseconds(1500)),
         LinkCondition::Silent, true},
        {"damaged answers instead of silence", damaged(unit(milliseconds(1001), std::nullopt)),
         LinkCondition::Damaged, true},
        {"damage outranks waiting", damaged(unit(milliseconds(1500), milliseconds(1500))),
         LinkCondition::Damaged, true},
        {"a damaged answer among good ones", damaged(unit(milliseconds(100), std::nullopt)),
         LinkCondition::Connected, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const StatusSentence s = statusSentence(r.view);
        EXPECT_EQ(s.condition, r.condition);
        EXPECT_EQ(s.metersStale, r.stale);
        EXPECT_FALSE(s.text.empty());
    }
    EXPECT_EQ(statusSentence(unit(milliseconds(0), std::nullopt)).text,
              "QX-77ZT connected, serial S1, version 1.2.");
}

// The window looks at the sentence again only when sentenceStandsFor says; looking any later
// would show a silence or a wait late, any sooner is a wake-up for nothing.
TEST(StatusLine, SentenceStandsUntilTimeAloneChangesIt) {
    const auto unit = [](int silent, std::optional<int> unconfirmed) {
        LinkView v;
        v.connected = true;
        v.silentFor = milliseconds(silent);
        if (unconfirmed) {
            v.unconfirmedFor = milliseconds(*unconfirmed);
        }
        return v;
    };
    LinkView boot = unit(0, std::nullopt);
    boot.bootMode = true;
    struct Row {
        const char* what;
        LinkView view;
        std::optional<milliseconds> stands;
        // Whether the sentence itself changes then (rather than a change made meanwhile).
        bool changesThen;
    };
    const Row rows[] = {
        {"nothing found", LinkView{}, std::nullopt, false},
        {"boot loader", boot, std::nullopt, false},
        {"silent already", unit(1001, std::nullopt), std::nullopt, false},
        {"silent and waiting", unit(1500, 1500), std::nullopt, false},
        {"just answered: a change made now", unit(0, std::nullopt), milliseconds(500), false},
        {"answered long ago: silence comes first", unit(800, std::nullopt), milliseconds(201),
         true},
        {"at the limit of silence", unit(1000, std::nullopt), milliseconds(1), true},
        {"a change waiting", unit(0, 300), milliseconds(201), true},
        {"waiting told: silence next", unit(200, 600), milliseconds(801), true},
        {"waiting comes before silence", unit(900, 450), milliseconds(51), true},
    };
    const auto later = [](LinkView v, milliseconds d) {
        v.silentFor += d;
        if (v.unconfirmedFor) {
            *v.unconfirmedFor += d;
        }
        return v;
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const auto stands = sentenceStandsFor(r.view);
        EXPECT_EQ(stands, r.stands);
        const LinkCondition now = statusSentence(r.view).condition;
        if (!stands) {
            EXPECT_EQ(statusSentence(later(r.view, milliseconds(60000))).condition, now);
            continue;
        }
        EXPECT_EQ(statusSentence(later(r.view, *stands - milliseconds(1))).condition, now);
        EXPECT_EQ(statusSentence(later(r.view, *stands)).condition != now, r.changesThen);
    }
}

} // namespace
} // namespace qx::panel
