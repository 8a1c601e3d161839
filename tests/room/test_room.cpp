// SPDX-License-Identifier: GPL-3.0-or-later
// Several units at once through the real path: every unit on its own copy of the (virtual) HID
// library, all copies over one bench of virtual units.
#include "link/EmbeddedImage.h"
#include "panel/SettingsFile.h"
#include "room/UnitKeys.h"
#include "room/UnitRoom.h"
#include "unit/VirtualBench.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qx::room {
namespace {

using namespace std::chrono_literals;

std::string serialOf(int n) {
    return "QX77000000" + std::to_string(10 + n);
}

struct RoomTest : ::testing::Test {
    unit::VirtualBench* bench = nullptr;
    std::unique_ptr<UnitRoom> room;
    int deviceEvents = 0;

    // A room over `count` plugged units of serials serialOf(0..); `before` runs before it
    // starts.
    void start(int count, const std::function<void(UnitRoom&)>& before = {}) {
        UnitRoom::Setup setup;
        setup.labels = setupLabels;
        setup.image = &embeddedHidImage;
        setup.libraryLoaded = [this](LoadedLibrary& library) {
            if (bench == nullptr) {
                bench = reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))();
                // The units are there before the first scan.
                bench->unit(0).setIdentity(identity(0));
                for (int i = 1; i < units; ++i) {
                    bench->setPlugged(bench->addUnit(identity(i)), true);
                }
            } else {
                reinterpret_cast<decltype(&VUjoin)>(library.symbol("VUjoin"))(bench);
            }
        };
        // Device events are followed when a test says so.
        setup.deviceEvent = [this] { ++deviceEvents; };
        units = count;
        room = std::make_unique<UnitRoom>(setup);
        if (before) {
            before(*room);
        }
        ASSERT_TRUE(room->start()) << room->lastError();
    }
    static unit::Identity identity(int n) {
        unit::Identity id;
        id.serial = serialOf(n);
        return id;
    }
    int indexOf(const std::string& serial) const { return room->find(UnitKey{serial, {}}); }
    // Waits until every unit in `which` has stored `more` answers beyond what it had.
    bool answersGrow(const std::vector<int>& which, uint64_t more = 5,
                     std::chrono::milliseconds limit = 5s) {
        std::vector<uint64_t> from;
        for (int i : which) {
            from.push_back(room->unit(i).link().answersStored());
        }
        return QTest::qWaitFor(
            [&] {
                for (std::size_t k = 0; k < which.size(); ++k) {
                    if (room->unit(which[k]).link().answersStored() < from[k] + more) {
                        return false;
                    }
                }
                return true;
            },
            static_cast<int>(limit.count()));
    }
    void TearDown() override { room.reset(); }

    int units = 1;
    state::UnitLabels* setupLabels = nullptr;
};

TEST_F(RoomTest, EveryUnitGetsItsOwnLinkAndAllArePolledAtOnce) {
    for (int count : {2, 4}) {
        SCOPED_TRACE(count);
        bench = nullptr;
        start(count);
        ASSERT_EQ(room->count(), count);
        std::vector<int> all;
        for (int i = 0; i < count; ++i) {
            const int index = indexOf(serialOf(i));
            ASSERT_GE(index, 0);
            EXPECT_TRUE(room->unit(index).link().connected);
            EXPECT_EQ(room->unit(index).facts().serial, serialOf(i));
            all.push_back(index);
        }
        EXPECT_TRUE(room->several());
        EXPECT_EQ(room->shown(), 0) << "the first unit found is shown";
        EXPECT_TRUE(answersGrow(all));
        // Each copy is a library of its own.
        for (int i = 1; i < count; ++i) {
            EXPECT_NE(room->unit(i).usb()->library(), room->unit(0).usb()->library());
        }
        // The bench lives in the room's first copy: it goes with the room.
        room.reset();
    }
}

TEST_F(RoomTest, AWriteLandsOnItsUnitOnly) {
    start(3);
    const int target = indexOf(serialOf(1));
    const DeviceSettings before0 = bench->unit(0).settings();
    const DeviceSettings before2 = bench->unit(2).settings();
    ASSERT_TRUE(answersGrow({0, 1, 2}, 2));
    room->unit(target).link().save([](DeviceSettings& s) { s.muteOn = !s.muteOn; });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return bench->unit(1).settings().muteOn != before0.muteOn; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return room->unit(target).link().writeAcked(); }, 5000));
    EXPECT_EQ(bench->unit(0).settings(), before0);
    EXPECT_EQ(bench->unit(2).settings(), before2);
}

TEST_F(RoomTest, ASilentOrUnpluggedUnitNeverStallsTheOthers) {
    start(3);
    ASSERT_TRUE(answersGrow({0, 1, 2}, 2));
    unit::Faults silent;
    silent.silent = true;
    bench->unit(1).setFaults(silent);
    EXPECT_TRUE(answersGrow({0, 2}, 10));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return room->unit(indexOf(serialOf(1))).state() == UnitState::NotAnswering; }, 5000));

    // Unplugged while another is being written.
    bench->setPlugged(2, false);
    room->unit(0).link().save([](DeviceSettings& s) { s.dimMode = 1; });
    room->followDeviceChange();
    EXPECT_FALSE(room->unit(indexOf(serialOf(2))).link().connected);
    EXPECT_EQ(room->unit(indexOf(serialOf(2))).state(), UnitState::Unplugged);
    ASSERT_TRUE(QTest::qWaitFor([&] { return room->unit(0).link().writeAcked(); }, 5000));
    EXPECT_EQ(bench->unit(0).settings().dimMode, 1);
    EXPECT_TRUE(answersGrow({0}, 10));

    // Back again: the same unit, not a new one.
    bench->setPlugged(2, true);
    room->followDeviceChange();
    EXPECT_EQ(room->count(), 3);
    EXPECT_TRUE(room->unit(indexOf(serialOf(2))).link().connected);
    EXPECT_TRUE(answersGrow({0, indexOf(serialOf(2))}, 5));
}

TEST_F(RoomTest, AUnitInItsBootLoaderStaysTheSameUnitAndTheOthersKeepAnswering) {
    start(2);
    ASSERT_TRUE(answersGrow({0, 1}, 2));
    bench->restart(1, true);
    room->followDeviceChange();
    ASSERT_EQ(room->count(), 2);
    const RoomUnit& boot = room->unit(indexOf(serialOf(1)));
    EXPECT_TRUE(boot.link().connected);
    EXPECT_TRUE(boot.link().bootMode);
    EXPECT_EQ(boot.state(), UnitState::BootLoader);
    EXPECT_TRUE(boot.facts().updateButtonsEnabled);
    EXPECT_TRUE(answersGrow({indexOf(serialOf(0))}, 10));
}

TEST_F(RoomTest, TwoUnitsWithOneSerialAreToldApartByWhereTheyArePlugged) {
    start(1);
    // A second unit reporting the first one's serial.
    bench->setPlugged(bench->addUnit(identity(0)), true);
    room->followDeviceChange();
    ASSERT_EQ(room->count(), 2);
    EXPECT_EQ(room->unit(0).key().serial, room->unit(1).key().serial);
    EXPECT_NE(room->unit(0).key().place, room->unit(1).key().place);
    EXPECT_FALSE(room->unit(0).key().place.empty());
    EXPECT_TRUE(answersGrow({0, 1}, 5));
    // Each link drives its own: a write to the second reaches the second unit only.
    const bool mute0 = bench->unit(0).settings().muteOn;
    room->unit(1).link().save([](DeviceSettings& s) { s.muteOn = !s.muteOn; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench->unit(1).settings().muteOn != mute0; }, 5000));
    EXPECT_EQ(bench->unit(0).settings().muteOn, mute0);
}

TEST_F(RoomTest, PlugOrdersGiveEachUnitOneEntry) {
    start(1);
    ASSERT_EQ(room->count(), 1);
    EXPECT_FALSE(room->several());
    // Plugged in later, in any order, and some of them twice.
    const int b = bench->addUnit(identity(1));
    const int c = bench->addUnit(identity(2));
    for (const auto& [slot, plugged] : std::vector<std::pair<int, bool>>{
             {c, true}, {b, true}, {0, false}, {c, false}, {0, true}, {c, true}}) {
        bench->setPlugged(slot, plugged);
        room->followDeviceChange();
    }
    ASSERT_EQ(room->count(), 3);
    EXPECT_EQ(room->unit(0).key().serial, serialOf(0));
    EXPECT_EQ(room->unit(1).key().serial, serialOf(2)) << "numbered in the order they came";
    EXPECT_EQ(room->connectedCount(), 3);
    EXPECT_TRUE(room->several());
    EXPECT_TRUE(answersGrow({0, 1, 2}, 5));
}

TEST_F(RoomTest, AUnitThatCannotBeUsedIsShownUntilOneConnects) {
    // The only device claims to be the unit, with reports of another length.
    unit::Identity odd = identity(0);
    odd.outputReportLength = 64;
    UnitRoom::Setup setup;
    setup.image = &embeddedHidImage;
    setup.libraryLoaded = [this, odd](LoadedLibrary& library) {
        if (bench == nullptr) {
            bench = reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))();
            bench->unit(0).setIdentity(odd);
        } else {
            reinterpret_cast<decltype(&VUjoin)>(library.symbol("VUjoin"))(bench);
        }
    };
    setup.deviceEvent = [] {};
    room = std::make_unique<UnitRoom>(setup);
    ASSERT_TRUE(room->start()) << room->lastError();
    ASSERT_EQ(room->count(), 1);
    EXPECT_EQ(room->shown(), 0);
    EXPECT_EQ(room->unit(0).state(), UnitState::Refused);
    ASSERT_TRUE(room->unit(0).facts().refused);
    EXPECT_EQ(room->unit(0).facts().refused->outputLength, 64);

    const int closed = bench->addUnit(identity(1));
    bench->setOpenable(closed, false);
    bench->setPlugged(closed, true);
    room->followDeviceChange();
    ASSERT_EQ(room->count(), 2);
    EXPECT_EQ(room->unit(1).state(), UnitState::NoAccess);
    EXPECT_EQ(room->shown(), 0) << "neither connects: the first stays";

    bench->setPlugged(bench->addUnit(identity(2)), true);
    room->followDeviceChange();
    ASSERT_EQ(room->count(), 3);
    EXPECT_EQ(room->shown(), 2) << "the first unit that connects is shown";
    EXPECT_FALSE(room->several());
}

TEST_F(RoomTest, AProfileIsWrittenToItsUnitWheneverItConnectsAndItsLabelIsKept) {
    QTemporaryDir folder;
    state::UnitLabels labels(folder.filePath(QStringLiteral("unit-labels")).toStdString());
    DeviceSettings rack;
    rack.preset = 2;
    rack.dimMode = 1;
    rack.gainLeft = 3;
    const std::string profile = folder.filePath(QStringLiteral("rack.cfg")).toStdString();
    ASSERT_TRUE(panel::writeSettingsFile(profile, rack).ok);
    ASSERT_EQ(labels.set({serialOf(1), {}, "Rack 2", profile, true}).status,
              state::LabelChange::Status::Done);
    ASSERT_EQ(labels.set({serialOf(2), {}, "", "/nonexistent/rack.cfg", true}).status,
              state::LabelChange::Status::Done);
    setupLabels = &labels;
    std::vector<std::pair<int, QString>> told;
    start(3, [&](UnitRoom& r) {
        QObject::connect(&r, &UnitRoom::profileApplied,
                         [&](int index, const QString& error) { told.emplace_back(index, error); });
    });
    const int rackUnit = indexOf(serialOf(1));
    EXPECT_EQ(room->unit(rackUnit).label(), "Rack 2");
    EXPECT_EQ(room->unit(rackUnit).name(), "Rack 2");
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench->unit(1).settings() == rack; }, 5000));
    EXPECT_NE(bench->unit(0).settings(), rack) << "only the unit of that label";
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(told[0].second.isEmpty() || told[1].second.isEmpty());
    const auto failed = told[0].second.isEmpty() ? told[1] : told[0];
    EXPECT_EQ(failed.first, indexOf(serialOf(2)));
    EXPECT_TRUE(failed.second.contains(QStringLiteral("/nonexistent/rack.cfg")))
        << failed.second.toStdString();

    // Written again when it comes back, and a new label is kept for the next run.
    bench->unit(1).setSettings(DeviceSettings{});
    bench->setPlugged(1, false);
    room->followDeviceChange();
    bench->setPlugged(1, true);
    room->followDeviceChange();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench->unit(1).settings() == rack; }, 5000));
    EXPECT_EQ(room->setLabel(rackUnit, "Rack 2 spare", profile, false), "");
    state::UnitLabels nextRun(labels.file());
    EXPECT_EQ(nextRun.load(), "");
    EXPECT_EQ(nextRun.find(serialOf(1)).value_or(state::UnitLabel{}).label, "Rack 2 spare");
}

TEST_F(RoomTest, AnOverOnAUnitNotShownStaysLatchedUntilCleared) {
    start(2);
    ASSERT_EQ(room->shown(), 0);
    bench->unit(1).setLevelPattern(unit::LevelPattern::Overload);
    const int other = indexOf(serialOf(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return room->unit(other).levels().anyOver(); }, 5000));
    bench->unit(1).setLevelPattern(unit::LevelPattern::Silence);
    EXPECT_TRUE(answersGrow({other}, 5));
    EXPECT_TRUE(room->unit(other).levels().anyOver());
    room->clearOver(other, -1);
    EXPECT_FALSE(room->unit(other).levels().anyOver());
}

TEST_F(RoomTest, WithoutMetersToFeedItTheShownUnitsMemoryIsTheRooms) {
    UnitRoom::Setup setup;
    setup.image = &embeddedHidImage;
    setup.libraryLoaded = [this](LoadedLibrary& library) {
        bench = reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))();
        bench->unit(0).setIdentity(identity(0));
    };
    setup.shownFedByView = false;
    room = std::make_unique<UnitRoom>(setup);
    ASSERT_TRUE(room->start()) << room->lastError();
    ASSERT_EQ(room->shown(), 0);
    bench->unit(0).setLevelPattern(unit::LevelPattern::Overload);
    EXPECT_TRUE(QTest::qWaitFor([&] { return room->unit(0).levels().anyOver(); }, 5000));
}

} // namespace
} // namespace qx::room

namespace qx::room {
namespace {

TEST(UnitKeys, ASerialAloneUnlessAnotherUsableDeviceSharesIt) {
    const auto device = [](std::string serial, std::string place, bool usable = true) {
        FoundDevice d;
        d.serial = std::move(serial);
        d.place = std::move(place);
        d.usable = usable;
        return d;
    };
    struct Case {
        const char* what;
        std::vector<FoundDevice> found;
        std::vector<UnitKey> keys;
    } cases[] = {
        {"distinct serials",
         {device("A", "usb 1-1"), device("B", "usb 1-2")},
         {{"A", ""}, {"B", ""}}},
        {"a shared serial",
         {device("A", "usb 1-1"), device("A", "usb 1-2"), device("B", "x")},
         {{"A", "usb 1-1"}, {"A", "usb 1-2"}, {"B", ""}}},
        {"a device that only claims to be the unit shares nothing",
         {device("A", "usb 1-1"), device("A", "usb 1-2", false)},
         {{"A", ""}, {"A", ""}}},
        {"no serial at all", {device("", "usb 1-3")}, {{"", "usb 1-3"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(keysOf(c.found), c.keys);
    }
    EXPECT_EQ(keyText({"A", ""}), "A");
    EXPECT_EQ(keyText({"A", "usb 1-2"}), "A at usb 1-2");
    EXPECT_EQ(keyText({"", "usb 1-3"}), "(no serial) at usb 1-3");
}

} // namespace
} // namespace qx::room
