// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/EmbeddedImage.h"
#include "link/USB.h"
#include "unit/VirtualBench.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

namespace qx {
namespace {

using unit::VirtualBench;

struct FakeView : ConnectionView {
    bool controls = false;
    bool updateButtons = false;
    std::string name = "old", serial = "old", version = "old", inaccessible;
    int controlChanges = 0;
    void setControlsEnabled(bool e) override {
        controls = e;
        ++controlChanges;
    }
    void setDeviceFields(const std::string& n, const std::string& s,
                         const std::string& v) override {
        name = n;
        serial = s;
        version = v;
    }
    void setUpdateButtonsEnabled(bool e) override { updateButtons = e; }
    void setUnitInaccessible(const std::string& path) override {
        inaccessible = path;
        refused.reset();
    }
    std::optional<std::pair<int, int>> refused;
    void setUnitRefused(uint16_t out, uint16_t in) override { refused = {{out, in}}; }
};

struct BindingTest : ::testing::Test {
    LinkState link;
    FakeView view;
    std::unique_ptr<UsbLink> usb;
    unit::VirtualBench* bench = nullptr;

    void bind() {
        usb = std::make_unique<UsbLink>(link, view, &embeddedHidImage, [] {});
        ASSERT_TRUE(usb->bindLibrary()) << usb->lastError();
        auto control = reinterpret_cast<decltype(&VUcontrol)>(usb->library()->symbol("VUcontrol"));
        ASSERT_NE(control, nullptr);
        bench = control();
        bench->reset();
    }
    // Sets up the virtual units, then connects as a device change would.
    void reconnect() { usb->connectUnit(); }
    void TearDown() override {
        if (bench) {
            bench->reset();
        }
        usb.reset();
    }
};

TEST_F(BindingTest, NoDeviceEmptiesTheFieldsAndKeepsControlsOff) {
    bind();
    bench->setPlugged(0, false);
    reconnect();
    EXPECT_FALSE(link.connected);
    EXPECT_FALSE(view.controls);
    EXPECT_EQ(view.name, "");
    EXPECT_EQ(view.serial, "");
    EXPECT_EQ(view.version, "");
}

TEST_F(BindingTest, TheUnitAloneInNormalMode) {
    bind();
    bench->setPlugged(0, true);
    view.updateButtons = true;
    reconnect();
    EXPECT_TRUE(link.connected);
    EXPECT_FALSE(link.bootMode);
    EXPECT_TRUE(view.controls);
    EXPECT_FALSE(view.updateButtons);
    EXPECT_EQ(view.name, "QX-77ZT");
    EXPECT_EQ(view.serial, "QX7700000042");
    EXPECT_EQ(view.version, "1.2");
}

TEST_F(BindingTest, ProductStringDecidesTheMode) {
    bind();
    struct Case {
        const char* product;
        bool boot;
    };
    const Case cases[] = {
        {"QX-77ZT (boot)", true},  {"QX-77ZT(boot)", true}, {"(boot)", false},
        {"(boot) QX-77ZT", false}, {"QX-77ZT", false},
    };
    for (const Case& c : cases) {
        unit::Identity id;
        id.product = c.product;
        bench->unit(0).setIdentity(id);
        bench->setPlugged(0, true);
        reconnect();
        EXPECT_TRUE(link.connected) << c.product;
        EXPECT_EQ(link.bootMode.load(), c.boot) << c.product;
        EXPECT_EQ(view.controls, !c.boot) << c.product;
        EXPECT_EQ(view.updateButtons, c.boot) << c.product;
        EXPECT_EQ(view.name, c.product);
    }
}

// A boot loader never answers a settings write: one left unacknowledged by the running unit is
// dropped when the unit comes back in boot mode, instead of being repeated between the update's
// requests.
TEST_F(BindingTest, ConnectingInBootModeDropsAnUnacknowledgedSettingsWrite) {
    bind();
    ASSERT_TRUE(link.connected);
    auto writes = [&] {
        const auto c = bench->unit(0).counters().byCommand;
        const auto it = c.find(cmd::kSettingsWrite);
        return it == c.end() ? 0u : it->second;
    };
    unit::Faults silent;
    silent.silent = true;
    bench->unit(0).setFaults(silent);
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return writes() >= 2; })) << "repeated while unanswered";
    ASSERT_FALSE(link.writeAcked());

    bench->unit(0).restart(true);
    reconnect();
    ASSERT_TRUE(link.bootMode);
    EXPECT_TRUE(link.writeAcked());
    const unsigned afterConnect = writes();
    QTest::qWait(350); // more than three repeat intervals
    EXPECT_EQ(writes(), afterConnect);
}

TEST_F(BindingTest, OnlyTheExactManufacturerIsTheUnit) {
    bind();
    for (const char* maker : {"orb-mx", "ORB-MX ", "ORB-M", ""}) {
        unit::Identity id;
        id.manufacturer = maker;
        bench->unit(0).setIdentity(id);
        reconnect();
        EXPECT_FALSE(link.connected) << '"' << maker << '"';
        EXPECT_EQ(view.name, "") << '"' << maker << '"';
    }
}

// A device that gives the unit's maker but declares other report lengths than the unit's 65 is
// not driven (the link's 65-byte reports would be cut or padded), and the view is told why; a
// real unit plugged in beside it is still found.
TEST_F(BindingTest, ADeviceWithoutTheUnitsReportLengthsIsRefused) {
    bind();
    for (const auto& [out, in] : std::vector<std::pair<int, int>>{{0, 0},
                                                                  {9, 65},
                                                                  {64, 65},
                                                                  {66, 65},
                                                                  {128, 65},
                                                                  {300, 300},
                                                                  {65535, 65},
                                                                  {65, 64},
                                                                  {65, 128}}) {
        SCOPED_TRACE(std::to_string(out) + " out, " + std::to_string(in) + " in");
        bench->reset();
        unit::Identity id;
        id.outputReportLength = static_cast<uint16_t>(out);
        id.inputReportLength = static_cast<uint16_t>(in);
        bench->unit(0).setIdentity(id);
        reconnect();
        EXPECT_FALSE(link.connected);
        EXPECT_FALSE(view.controls);
        EXPECT_EQ(view.name, "");
        EXPECT_EQ(view.refused, std::make_pair(out, in));

        const int real = bench->addUnit(unit::Identity{});
        bench->setPlugged(real, true);
        reconnect();
        EXPECT_TRUE(link.connected);
        EXPECT_EQ(view.name, "QX-77ZT");
        EXPECT_FALSE(view.refused.has_value());
    }
}

TEST_F(BindingTest, VersionText) {
    EXPECT_EQ(versionText(0x0102), "1.2");
    EXPECT_EQ(versionText(0x010A), "1.10");
    EXPECT_EQ(versionText(0xFF00), "255.0");
}

TEST_F(BindingTest, TwoUnitsTheFirstIsUsedAndAnUnopenableOneIsReported) {
    bind();
    unit::Identity second;
    second.serial = "SECOND";
    const int other = bench->addUnit(second);
    bench->setPlugged(other, true);
    reconnect();
    EXPECT_EQ(view.serial, "QX7700000042");

    bench->setOpenable(0, false);
    view.updateButtons = true;
    link.bootMode = true;
    reconnect();
    EXPECT_FALSE(link.connected) << "the first unit is chosen even when it cannot be opened";
    EXPECT_FALSE(view.controls);
    EXPECT_EQ(view.serial, "QX7700000042") << "fields keep what was just written";
    EXPECT_TRUE(view.updateButtons) << "buttons keep their state";
    EXPECT_TRUE(link.bootMode) << "mode keeps its state";
    EXPECT_EQ(view.inaccessible, "virtual/unit0");

    bench->setOpenable(0, true);
    reconnect();
    EXPECT_TRUE(link.connected);
    EXPECT_EQ(view.inaccessible, "");
}

TEST_F(BindingTest, UnpluggingAndPluggingIsFollowedWithoutAnyAction) {
    bind();
    bench->setPlugged(0, true);
    reconnect();
    ASSERT_TRUE(view.controls);

    bench->setPlugged(0, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !link.connected && view.name.empty(); }, 5000));
    EXPECT_FALSE(view.controls);

    bench->setPlugged(0, true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return link.connected.load() && view.controls; }, 5000));

    bench->restart(0, true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return link.bootMode.load() && view.updateButtons; }, 5000));
    EXPECT_EQ(view.name, "QX-77ZT (boot)");
}

TEST_F(BindingTest, DeviceChangesWaitForAnUpdateTransferToEnd) {
    bind();
    bench->restart(0, true);
    reconnect();
    ASSERT_TRUE(link.connected && link.bootMode);

    link.transferRunning = true;
    const unit::Identity id;
    const int other = bench->addUnit(id); // an unrelated plug-in during the transfer
    bench->setPlugged(other, true);
    QTest::qWait(300);
    EXPECT_TRUE(link.connected) << "the unit stays open under the transfer";
    EXPECT_FALSE(usb->reconnectIfDeferred());

    link.transferRunning = false;
    EXPECT_TRUE(usb->reconnectIfDeferred());
    EXPECT_TRUE(link.connected);
    EXPECT_FALSE(usb->reconnectIfDeferred()) << "once only";
}

// The program collapses a burst of device changes itself: with a handler set, a change only
// reaches the handler, and the reconnection waits for followDeviceChange.
TEST_F(BindingTest, AChangeHandlerTakesDeviceChangesInsteadOfReconnecting) {
    bind();
    bench->setPlugged(0, true);
    reconnect();
    ASSERT_TRUE(link.connected && view.controls);

    int changes = 0;
    usb->setDeviceChangeHandler([&] { ++changes; });
    bench->setPlugged(0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes > 0; }, 5000));
    EXPECT_TRUE(link.connected) << "reconnected without being asked";

    EXPECT_TRUE(usb->followDeviceChange());
    EXPECT_FALSE(link.connected);
    EXPECT_FALSE(view.controls);
}

TEST_F(BindingTest, StatusAnswersFlowIntoTheRecords) {
    bind();
    bench->unit(0).setLevelPattern(unit::LevelPattern::SteadyTone);
    DeviceSettings s = factoryDefaults();
    s.preset = 2;
    s.gainLeft = -9;
    bench->unit(0).setSettings(s);
    reconnect();
    ASSERT_TRUE(link.connected);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            link.postStatusRequest();
            return link.status().levelRight == -2;
        },
        5000));
    EXPECT_EQ(link.settings(), s);
    EXPECT_EQ(link.status().levelLeft, 0);

    // And a settings write is acknowledged by the unit.
    link.save([](DeviceSettings& d) { d.muteOn = 1; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return link.writeAcked(); }, 5000));
    EXPECT_EQ(bench->unit(0).settings().muteOn, 1);
}

TEST_F(BindingTest, BindingTwiceKeepsOneWorkerAndOneLibrary) {
    bind();
    LoadedLibrary* first = usb->library();
    EXPECT_TRUE(usb->workerRunning());
    ASSERT_TRUE(usb->bindLibrary());
    EXPECT_EQ(usb->library(), first);
    EXPECT_TRUE(usb->workerRunning());
}

VirtualBench* controlOf(const LoadedLibrary& lib) {
    auto control = reinterpret_cast<decltype(&VUcontrol)>(lib.symbol("VUcontrol"));
    return control ? control() : nullptr;
}

// Every load is a copy of its own: its own state and threads, even while another is loaded, and
// after a copy before it was unloaded. A copy joined to another's bench sees that bench's units.
TEST(LibraryCopies, EachLoadIsACopyOfItsOwnUntilItJoinsAnother) {
    const std::vector<uint8_t> image = *embeddedHidImage();
    std::string error;
    auto gone = LoadedLibrary::load(image, error);
    ASSERT_TRUE(gone) << error;
    controlOf(*gone)->addUnit(unit::Identity{});
    gone.reset(); // frees the name it was loaded under for the next copy

    auto first = LoadedLibrary::load(image, error);
    ASSERT_TRUE(first) << error;
    auto second = LoadedLibrary::load(image, error);
    ASSERT_TRUE(second) << error;
    VirtualBench* a = controlOf(*first);
    VirtualBench* b = controlOf(*second);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->unitCount(), 1) << "a fresh copy, not the one unloaded before";

    unit::Identity other;
    other.serial = "SECOND";
    a->setPlugged(a->addUnit(other), true);
    EXPECT_EQ(a->unitCount(), 2);
    EXPECT_EQ(b->unitCount(), 1) << "units plugged in one copy are not in the other";
    EXPECT_EQ(second->entry().scanForDevices(), 1);

    auto join = reinterpret_cast<decltype(&VUjoin)>(second->symbol("VUjoin"));
    ASSERT_NE(join, nullptr);
    join(a);
    EXPECT_EQ(controlOf(*second), a);
    ASSERT_EQ(second->entry().scanForDevices(), 2);
    THIDdeviceInfo info{};
    second->entry().getDeviceInfo(1, &info);
    EXPECT_EQ(textOf(info.serial), "SECOND");
    second.reset(); // a joined copy goes before the copy whose bench it uses
}

// A link's view of its unit, for the links driving several units at once.
struct UnitDriver {
    LinkState link;
    FakeView view;
    std::unique_ptr<UsbLink> usb;

    UnitDriver(const std::string& serial, std::function<void(LoadedLibrary&)> loaded) {
        usb = std::make_unique<UsbLink>(link, view, &embeddedHidImage, [] {});
        usb->setUnitFilter(
            [serial](const THIDdeviceInfo& i) { return textOf(i.serial) == serial; });
        usb->setLibraryLoaded(std::move(loaded));
    }
    uint64_t answers() const { return link.counters.snapshot().answersReceived; }
};

// Two links, each over its own copy of the library joined to one bench with two units, each
// taking the unit of one serial number: a unit's traffic never reaches the other, and a unit
// that goes silent or away leaves the other one answering.
TEST(SeveralUnits, EachLinkDrivesItsOwnUnitThroughItsOwnCopy) {
    VirtualBench* bench = nullptr;
    UnitDriver a("UNIT-A", [&](LoadedLibrary& lib) {
        bench = controlOf(lib);
        unit::Identity id;
        id.serial = "UNIT-A";
        bench->unit(0).setIdentity(id);
        id.serial = "UNIT-B";
        bench->setPlugged(bench->addUnit(id), true);
    });
    ASSERT_TRUE(a.usb->bindLibrary()) << a.usb->lastError();
    UnitDriver b("UNIT-B", [&](LoadedLibrary& lib) {
        auto join = reinterpret_cast<decltype(&VUjoin)>(lib.symbol("VUjoin"));
        ASSERT_NE(join, nullptr);
        join(bench);
    });
    ASSERT_TRUE(b.usb->bindLibrary()) << b.usb->lastError();
    ASSERT_NE(a.usb->library(), b.usb->library());
    ASSERT_TRUE(a.link.connected && b.link.connected);
    EXPECT_EQ(a.view.serial, "UNIT-A");
    EXPECT_EQ(b.view.serial, "UNIT-B");

    auto statusAnswers = [&](int unit) {
        const auto c = bench->unit(unit).counters().byCommand;
        const auto it = c.find(cmd::kStatus);
        return it == c.end() ? 0u : it->second;
    };
    // Both polled at once, each through its own link.
    a.link.setStatusPolling(true);
    b.link.setStatusPolling(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.answers() >= 3 && b.answers() >= 3; }, 10000));
    EXPECT_GE(statusAnswers(0), 3u);
    EXPECT_GE(statusAnswers(1), 3u);

    // A settings write through A reaches unit A only.
    a.link.save([](DeviceSettings& s) { s.muteOn = 1; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.link.writeAcked(); }, 10000));
    EXPECT_EQ(bench->unit(0).settings().muteOn, 1);
    EXPECT_EQ(bench->unit(1).settings().muteOn, 0);
    EXPECT_EQ(b.link.settings().muteOn, 0);

    // B's unit goes silent: A answers on.
    unit::Faults silent;
    silent.silent = true;
    bench->unit(1).setFaults(silent);
    QTest::qWait(300); // answers already on their way still arrive
    uint64_t aBefore = a.answers();
    const uint64_t bBefore = b.answers();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.answers() >= aBefore + 5; }, 10000));
    EXPECT_EQ(b.answers(), bBefore);

    // B's unit is unplugged: B's copy follows it, A answers on.
    bench->setPlugged(1, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.link.connected; }, 10000));
    EXPECT_TRUE(a.link.connected);
    aBefore = a.answers();
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.answers() >= aBefore + 5; }, 10000));
    EXPECT_EQ(b.view.serial, "");

    b.usb.reset(); // the joined copy before the bench's own
}

// Each bound copy holds one of a fixed number of handler slots: once all are taken, binding
// another copy fails with a reason instead of sharing a slot with a copy already bound.
TEST(SeveralUnits, BindingFailsOnceEveryHandlerSlotIsTaken) {
    std::vector<std::unique_ptr<HandlerSlot>> taken;
    for (;;) {
        auto slot = std::make_unique<HandlerSlot>();
        if (!slot->valid()) {
            break;
        }
        taken.push_back(std::move(slot));
    }
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(kHandlerSlots));
    LinkState link;
    FakeView view;
    UsbLink usb(link, view, &embeddedHidImage, [] {});
    EXPECT_FALSE(usb.bindLibrary());
    EXPECT_FALSE(usb.bound());
    EXPECT_NE(usb.lastError().find("16 units"), std::string::npos) << usb.lastError();

    taken.pop_back();
    EXPECT_TRUE(usb.bindLibrary()) << usb.lastError();
}

TEST(BindingFailure, CorruptOrForeignImagesAreRefused) {
    LinkState link;
    FakeView view;
    const std::vector<uint8_t> real = *embeddedHidImage();

    std::ifstream foreignFile(NOT_A_HID_LIBRARY, std::ios::binary);
    const std::vector<uint8_t> foreign((std::istreambuf_iterator<char>(foreignFile)),
                                       std::istreambuf_iterator<char>());
    ASSERT_FALSE(foreign.empty());

    struct Case {
        const char* name;
        std::optional<std::vector<uint8_t>> image;
    };
    std::vector<uint8_t> truncated(real.begin(), real.begin() + real.size() / 3);
    std::vector<uint8_t> garbage(4096, 0x5A);
    const Case cases[] = {
        {"missing", std::nullopt}, {"empty", std::vector<uint8_t>{}}, {"truncated", truncated},
        {"garbage", garbage},      {"entry points missing", foreign},
    };
    for (const Case& c : cases) {
        UsbLink usb(
            link, view, [&] { return c.image; }, [] {});
        EXPECT_FALSE(usb.bindLibrary()) << c.name;
        EXPECT_FALSE(usb.lastError().empty()) << c.name;
        EXPECT_FALSE(usb.bound()) << c.name;
    }
}

} // namespace
} // namespace qx
