// SPDX-License-Identifier: GPL-3.0-or-later
// Ways out of the update window besides its own three: the Escape key, the desktop's close and a
// reject() act as "Close". The leave-update request goes out once, the window closes only after it
// has been sent, and the end of that wait never closes a later showing of the window.
#include "Fixtures.h"

#include <QTimer>
#include <QWindow>

#include <functional>
#include <stop_token>

namespace qx::test {
namespace {

struct WayOut {
    const char* name;
    std::function<void(Tfu&)> take;
};

const WayOut kWaysOut[] = {
    {"CloseButton", [](Tfu& w) { w.cancel->click(); }},
    {"EscapeKey", [](Tfu& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
    // What the desktop's close does: a spontaneous close event through the native window.
    {"DesktopClose", [](Tfu& w) { w.windowHandle()->close(); }},
    {"Reject", [](Tfu& w) { w.reject(); }},
};

void PrintTo(const WayOut& w, std::ostream* os) {
    *os << w.name;
}

// The window over a link whose worker the test plays, so that a request stays in the mailbox
// for as long as the test wants.
class LeaveWindow : public ::testing::Test {
protected:
    LinkState link;
    ScriptedDialogs dialogs;
    Tfu tfu{link, dialogs};

    void SetUp() override {
        tfu.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&tfu));
    }

    // Takes what is in the mailbox, as the worker would before sending it.
    LinkState::Job take() {
        std::stop_source never;
        LinkState::Work work = link.nextWork(never.get_token());
        EXPECT_TRUE(work.job.has_value());
        return work.job.value_or(LinkState::Job{});
    }
};

class LeaveWay : public LeaveWindow, public ::testing::WithParamInterface<WayOut> {};

TEST_P(LeaveWay, SendsTheLeaveRequestOnceAndClosesWhenItIsSent) {
    link.updateInProgress = true;
    GetParam().take(tfu);
    EXPECT_TRUE(tfu.isVisible()) << "closed before the request went out";
    EXPECT_TRUE(tfu.busy());
    EXPECT_FALSE(link.updateInProgress);
    ASSERT_TRUE(link.pending());
    EXPECT_EQ(link.request().command, cmd::kLeaveUpdate);

    // Every way out again while the request waits, and while it is being sent: nothing more is
    // posted and the window stays.
    const LinkState::Job job = take();
    EXPECT_EQ(job.request.command, cmd::kLeaveUpdate);
    for (const WayOut& again : kWaysOut) {
        again.take(tfu);
        EXPECT_TRUE(tfu.isVisible()) << again.name;
    }
    link.finishJob(job, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu.isVisible(); }, 5000));
    EXPECT_FALSE(link.pending()) << "a second request was posted";
    EXPECT_FALSE(tfu.busy());
    EXPECT_EQ(tfu.result(), QDialog::Rejected);
}

INSTANTIATE_TEST_SUITE_P(Ways, LeaveWay, ::testing::ValuesIn(kWaysOut),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LeaveWindow, LateEndOfTheLeaveWaitLeavesANewerShowingOpen) {
    tfu.cancel->click();
    ASSERT_TRUE(link.pending());
    // The unit's verdict closes the window while the request still waits in the mailbox ...
    link.updateFinished = true;
    tfu.tmrb->start(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu.isVisible(); }, 2000));
    // ... the operator opens it again, and only then is the request sent.
    tfu.show();
    ASSERT_TRUE(tfu.isVisible());
    link.finishJob(take(), true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu.busy(); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(tfu.isVisible()) << "the old wait closed the new showing";
}

} // namespace
} // namespace qx::test
