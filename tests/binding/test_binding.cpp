// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/EmbeddedImage.h"
#include "link/USB.h"
#include "unit/VirtualBench.h"

#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

namespace qx {
namespace {

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
