// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LinkState.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <thread>

namespace qx {
namespace {

using namespace std::chrono_literals;

// Takes the next job the way the worker does and completes it with `result`.
LinkState::Job takeAndFinish(LinkState& link, bool result = true) {
    std::stop_source never;
    for (;;) {
        LinkState::Work w = link.nextWork(never.get_token());
        if (w.job) {
            link.finishJob(*w.job, result);
            return *w.job;
        }
    }
}

std::array<uint8_t, kAnswerPayloadSize> answerWith(uint8_t muteOn, int8_t levelLeft) {
    std::array<uint8_t, kAnswerPayloadSize> a{};
    a[9] = muteOn;
    a[18] = static_cast<uint8_t>(levelLeft);
    return a;
}

TEST(LinkState, InitialFlags) {
    LinkState link;
    EXPECT_FALSE(link.pending());
    EXPECT_TRUE(link.writeAcked());
    EXPECT_FALSE(link.refreshNeeded());
    EXPECT_FALSE(link.connected);
    EXPECT_FALSE(link.bootMode);
    EXPECT_FALSE(link.updateFinished);
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_FALSE(link.busy);
}

TEST(LinkState, TwoQuickSettingsChangesSendOneWriteWithBoth) {
    LinkState link;
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    link.save([](DeviceSettings& s) { s.dimMode = 2; });
    EXPECT_FALSE(link.writeAcked());

    const LinkRequest resend = link.resendRequest();
    EXPECT_EQ(resend.command, cmd::kSettingsWrite);
    EXPECT_TRUE(resend.payloadIsSettings);
    EXPECT_EQ(resend.length(), 18u);

    const LinkState::Job job = takeAndFinish(link);
    EXPECT_TRUE(job.resend);
    EXPECT_FALSE(job.repeat) << "the first send of a write is no resend";
    const DeviceSettings sent = link.takeSettingsForSend().settings;
    EXPECT_EQ(sent.muteOn, 1);
    EXPECT_EQ(sent.dimMode, 2);
    EXPECT_FALSE(link.pending()) << "the single write consumed both posts";
}

TEST(LinkState, StatusRequestOnlyIntoAFreeMailboxAndNeverInBootMode) {
    LinkState link;
    link.post(cmd::kKeepAlive);
    EXPECT_FALSE(link.postStatusRequest());
    EXPECT_EQ(link.request().command, cmd::kKeepAlive);

    takeAndFinish(link);
    link.bootMode = true;
    EXPECT_FALSE(link.postStatusRequest());
    EXPECT_FALSE(link.pending());

    link.bootMode = false;
    EXPECT_TRUE(link.postStatusRequest());
    EXPECT_EQ(link.request().command, cmd::kStatus);
}

// The worker's own status polls: the first at once, then one every interval; a request waiting
// in the mailbox goes first and is never replaced by a poll.
TEST(LinkState, StatusPollingAsksEveryIntervalAfterWhateverIsWaiting) {
    LinkState link;
    const auto start = LinkState::Clock::now();
    link.setStatusPolling(true);
    const LinkState::Job first = takeAndFinish(link);
    EXPECT_EQ(first.request.command, cmd::kStatus);
    EXPECT_FALSE(link.pending());

    const auto keepAlive = link.post(cmd::kKeepAlive);
    EXPECT_EQ(takeAndFinish(link).request.command, cmd::kKeepAlive);
    EXPECT_TRUE(link.isTaken(keepAlive));
    const LinkState::Job second = takeAndFinish(link);
    EXPECT_EQ(second.request.command, cmd::kStatus);
    EXPECT_GE(LinkState::Clock::now() - start, LinkState::kStatusInterval);
    EXPECT_GE(link.nextStatusAt() - start, 2 * LinkState::kStatusInterval);
}

// Nothing is polled while polling is off or the unit is in boot mode, and a settings write
// awaiting its acknowledgement is resent in the poll's place.
TEST(LinkState, StatusPollingRestsWhenOffInBootModeAndForAnUnacknowledgedWrite) {
    struct Case {
        const char* name;
        std::function<void(LinkState&)> setUp;
    };
    const Case cases[] = {
        {"off", [](LinkState&) {}},
        {"boot mode",
         [](LinkState& l) {
             l.bootMode = true;
             l.setStatusPolling(true);
         }},
        {"write unacknowledged",
         [](LinkState& l) {
             l.setStatusPolling(true);
             l.save();
             EXPECT_TRUE(takeAndFinish(l).resend);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkState link;
        c.setUp(link);
        std::stop_source stop;
        std::jthread stopper([&stop, &link] {
            std::this_thread::sleep_for(250ms);
            stop.request_stop();
            link.wakeWorker();
        });
        for (;;) {
            const LinkState::Work w = link.nextWork(stop.get_token());
            if (w.stop) {
                break;
            }
            ASSERT_TRUE(w.job);
            EXPECT_TRUE(w.job->resend);
            EXPECT_EQ(w.job->request.command, cmd::kSettingsWrite);
            link.finishJob(*w.job, true);
        }
        EXPECT_FALSE(link.pending());
    }
}

TEST(LinkState, LastPostWinsAndEveryOverwrittenPostCountsAsTaken) {
    LinkState link;
    const auto first = link.post(cmd::kKeepAlive);
    const std::array<uint8_t, 2> adr{0x02, 0x00};
    const auto second = link.post(cmd::kErase, adr);

    const LinkState::Job job = takeAndFinish(link, true);
    EXPECT_EQ(job.request.command, cmd::kErase);
    EXPECT_EQ(job.request.payload, (std::vector<uint8_t>{0x02, 0x00}));
    EXPECT_TRUE(link.isTaken(first));
    EXPECT_TRUE(link.waitTaken(second));
}

TEST(LinkState, PostDuringASendIsKeptForTheNextSend) {
    LinkState link;
    const auto t1 = link.post(cmd::kErase);
    std::stop_source never;
    LinkState::Work w = link.nextWork(never.get_token());
    ASSERT_TRUE(w.job);

    const auto t2 = link.post(cmd::kResetDefaults); // arrives while t1 is being sent
    link.finishJob(*w.job, false);
    EXPECT_FALSE(link.waitTaken(t1));
    EXPECT_FALSE(link.isTaken(t2));
    EXPECT_TRUE(link.pending());

    const LinkState::Job next = takeAndFinish(link, true);
    EXPECT_EQ(next.request.command, cmd::kResetDefaults);
    EXPECT_TRUE(link.waitTaken(t2));
    EXPECT_FALSE(link.pending());
}

TEST(LinkState, UnacknowledgedWriteReplacesPostsAndRepeatsEvery100ms) {
    LinkState link;
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    const auto firstSend = LinkState::Clock::now();
    const LinkState::Job first = takeAndFinish(link);
    EXPECT_TRUE(first.resend);
    EXPECT_FALSE(first.repeat);

    ASSERT_TRUE(link.postStatusRequest());
    const LinkState::Job again = takeAndFinish(link);
    const auto elapsed = LinkState::Clock::now() - firstSend;
    EXPECT_TRUE(again.resend) << "the status request is consumed by the resend";
    EXPECT_TRUE(again.repeat);
    EXPECT_EQ(again.request.command, cmd::kSettingsWrite);
    EXPECT_GE(elapsed, 95ms);
    EXPECT_FALSE(link.pending());
}

// The unit may answer a write before the worker's send has even returned; a change the operator
// makes at that moment must not wait for the resend interval.
TEST(LinkState, AChangeRightAfterAnAcknowledgementGoesOutAtOnce) {
    LinkState link;
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    std::stop_source never;
    const LinkState::Work w = link.nextWork(never.get_token());
    ASSERT_TRUE(w.job && w.job->resend);
    link.takeSettingsForSend();
    ASSERT_TRUE(link.storeAnswer(true, answerWith(1, 0)));
    ASSERT_TRUE(link.writeAcked());

    link.save([](DeviceSettings& s) { s.muteOn = 0; });
    link.finishJob(*w.job, true);
    EXPECT_LE(link.nextResendAt(), LinkState::Clock::now()) << "the second change waits";
    const LinkState::Job next = takeAndFinish(link);
    EXPECT_TRUE(next.resend);
    EXPECT_EQ(link.takeSettingsForSend().settings.muteOn, 0);

    // A change while the write is still unacknowledged keeps to the resend schedule.
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    EXPECT_GT(link.nextResendAt(), LinkState::Clock::now());
}

// A save is one step for the worker: a pass that fell between the acknowledgement being
// cleared and the write being posted took the old resend copy and then the new post as well,
// sending one save twice. Each round is a fresh link, whose resend is due at once, with a worker
// that the waker keeps passing as often as it can and a unit that acknowledges every write.
TEST(LinkState, ASaveIsSentOnceHoweverAWorkerPassFallsAgainstIt) {
    constexpr int kRounds = 300;
    int doubled = 0;
    int repeats = 0;
    for (int round = 0; round < kRounds; ++round) {
        LinkState link;
        std::atomic<int> writes{0};
        std::stop_source stop;
        std::jthread worker([&] {
            for (;;) {
                const LinkState::Work w = link.nextWork(stop.get_token());
                if (w.stop) {
                    return;
                }
                if (!w.job) {
                    continue;
                }
                ++writes;
                repeats += w.job->repeat ? 1 : 0; // only this thread writes it until joined
                link.takeSettingsForSend();
                link.finishJob(*w.job, true);
                link.noteAnswer(true);
            }
        });
        std::atomic<bool> passing{true};
        std::jthread waker([&] {
            while (passing) {
                link.wakeWorker();
            }
        });
        link.save([](DeviceSettings& s) { s.muteOn = 1; });
        const auto until = LinkState::Clock::now() + 5s;
        while (!(link.writeAcked() && !link.pending()) && LinkState::Clock::now() < until) {
            std::this_thread::yield();
        }
        passing = false;
        waker.join();
        stop.request_stop();
        link.wakeWorker();
        worker.join();
        ASSERT_TRUE(link.writeAcked()) << "round " << round;
        doubled += writes > 1 ? 1 : 0;
        ASSERT_GE(writes, 1) << "round " << round;
    }
    EXPECT_EQ(doubled, 0) << "rounds whose save went out more than once";
    EXPECT_EQ(repeats, 0);
}

TEST(LinkState, UpdateCommandsAreSentEvenWithAWriteUnacknowledged) {
    LinkState link;
    link.save({});
    takeAndFinish(link); // the first resend
    const auto t = link.post(cmd::kWriteFlash, std::vector<uint8_t>(516, 0xAB));
    const LinkState::Job job = takeAndFinish(link, true);
    EXPECT_FALSE(job.resend);
    EXPECT_EQ(job.request.command, cmd::kWriteFlash);
    EXPECT_EQ(job.request.payload.size(), 516u);
    EXPECT_TRUE(link.waitTaken(t));
}

TEST(LinkState, AnswersRespectTheAcknowledgement) {
    LinkState link;
    EXPECT_TRUE(link.storeAnswer(false, answerWith(0, -3)));
    EXPECT_EQ(link.status().levelLeft, -3);
    EXPECT_TRUE(link.refreshNeeded());

    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    // An acknowledgement that arrives before the edit was sent answers an older write.
    EXPECT_FALSE(link.storeAnswer(true, answerWith(0, -4)));
    EXPECT_FALSE(link.writeAcked());
    EXPECT_EQ(link.settings().muteOn, 1);

    takeAndFinish(link);
    link.takeSettingsForSend();
    // A plain status answer is ignored while the write is unacknowledged.
    EXPECT_FALSE(link.storeAnswer(false, answerWith(0, -5)));
    EXPECT_EQ(link.settings().muteOn, 1);
    EXPECT_EQ(link.status().levelLeft, -3);

    EXPECT_TRUE(link.storeAnswer(true, answerWith(1, -6)));
    EXPECT_TRUE(link.writeAcked());
    EXPECT_EQ(link.status().levelLeft, -6);
}

// The reader hands an answer's redraw on itself: the worker has nothing to do for it and is not
// asked to, while whoever waits for the answer still sees it.
TEST(LinkState, ARedrawHandOffTakesAnswersPastTheWorker) {
    LinkState link;
    std::atomic<int> handedOn{0};
    link.setRedrawHandOff([&] { ++handedOn; });
    const uint64_t seen = link.answersStored();
    std::atomic<bool> waiterSaw{false};
    std::thread waiter([&] { waiterSaw = link.waitForAnswer(seen, false, 10s); });
    EXPECT_TRUE(link.storeAnswer(false, answerWith(0, -5)));
    waiter.join();
    EXPECT_TRUE(waiterSaw);
    EXPECT_EQ(handedOn, 1);
    EXPECT_FALSE(link.refreshNeeded()) << "the worker would pass the redraw on a second time";
    EXPECT_EQ(link.status().levelLeft, -5);

    link.setRedrawHandOff({});
    EXPECT_TRUE(link.storeAnswer(false, answerWith(0, -6)));
    EXPECT_TRUE(link.refreshNeeded());
    EXPECT_EQ(handedOn, 1);
}

TEST(LinkState, OtherAnswersWithBit7AcknowledgeAndMayBeActedOn) {
    LinkState link;
    link.save({});
    EXPECT_TRUE(link.noteAnswer(true)) << "a verdict is acted on even while an edit is unsent";
    EXPECT_FALSE(link.writeAcked()) << "but does not cancel the unsent edit";
    link.takeSettingsForSend();
    EXPECT_FALSE(link.noteAnswer(false));
    EXPECT_TRUE(link.noteAnswer(true));
    EXPECT_TRUE(link.writeAcked());
}

TEST(LinkState, ShutdownReleasesWaitingPosters) {
    LinkState link;
    const auto t = link.post(cmd::kResetDefaults);
    std::thread closer([&] {
        std::this_thread::sleep_for(10ms);
        link.shutdown();
    });
    EXPECT_FALSE(link.waitTaken(t));
    closer.join();
}

// Posters, a worker and a reader hammer the shared state at once; ThreadSanitizer reports any
// unsynchronised access, and the assertions check that no waiting poster is left hanging.
TEST(LinkState, ConcurrentPostSendAndReceiveStress) {
    LinkState link;
    std::stop_source stop;
    std::jthread worker([&](std::stop_token st) {
        for (;;) {
            LinkState::Work w = link.nextWork(st);
            if (w.stop) {
                return;
            }
            if (w.job) {
                if (w.job->request.payloadIsSettings) {
                    link.takeSettingsForSend();
                }
                link.busy = true;
                link.busy = false;
                link.finishJob(*w.job, true);
            }
        }
    });
    std::jthread reader([&](std::stop_token st) {
        int i = 0;
        while (!st.stop_requested()) {
            ++i;
            link.storeAnswer(i % 3 == 0, answerWith(static_cast<uint8_t>(i & 1), -1));
            link.noteAnswer(i % 5 == 0);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 2000; ++i) {
        switch (i % 4) {
        case 0:
            link.postStatusRequest();
            break;
        case 1:
            link.save([i](DeviceSettings& s) { s.preset = static_cast<uint8_t>(i & 3); });
            break;
        case 2:
            link.waitTaken(link.post(cmd::kErase, std::array<uint8_t, 2>{1, 2}));
            break;
        default:
            (void)link.settings();
            (void)link.status();
            (void)link.request();
            break;
        }
    }
    reader.request_stop();
    reader.join();
    worker.request_stop();
    link.wakeWorker();
    worker.join();
    link.shutdown();
}

TEST(LinkState, EachSaveNotesWhoMadeIt) {
    LinkState link;
    EXPECT_EQ(link.lastSave().count, 0u);
    link.save([](DeviceSettings& s) { s.muteOn = 1; }, ChangeOrigin::CommandLine);
    EXPECT_EQ(link.lastSave().count, 1u);
    EXPECT_EQ(link.lastSave().origin, ChangeOrigin::CommandLine);
    link.save([](DeviceSettings& s) { s.muteOn = 0; });
    EXPECT_EQ(link.lastSave().count, 2u);
    EXPECT_STREQ(originWord(link.lastSave().origin), "window");
}

} // namespace
} // namespace qx
