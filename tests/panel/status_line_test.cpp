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

} // namespace
} // namespace qx::panel
