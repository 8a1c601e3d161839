// SPDX-License-Identifier: GPL-3.0-or-later
// The unit chooser above the main window's panel and the "Units" window, over two to four
// virtual units, each on its own copy of the virtual HID library, bound to the windows as the
// program binds them.
#include "levels/LevelMeters.h"
#include "link/EmbeddedImage.h"
#include "panel/MainConnectionView.h"
#include "panel/umain.h"
#include "room/UnitRoom.h"
#include "tests/panel/ScriptedDialogs.h"
#include "unit/VirtualBench.h"
#include "units/UnitChooser.h"
#include "units/UnitsWindow.h"
#include "update/uu.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace qx {
namespace {

std::string serialOf(int n) {
    return "QX77000000" + std::to_string(10 + n);
}

struct UnitViews : ::testing::Test {
    test::ScriptedDialogs dialogs;
    LinkState noUnit;
    Tfu tfu{noUnit, dialogs};
    Tfmain w{noUnit, tfu, dialogs};
    MainConnectionView view{w, tfu};
    unit::VirtualBench* bench = nullptr;
    // Labels the operator gave, by serial.
    std::map<std::string, std::string> labels;
    // Declared after the windows: its threads report to them.
    std::unique_ptr<room::UnitRoom> room;
    QToolBar* bar = nullptr;
    units::UnitChooser* chooser = nullptr;
    std::unique_ptr<units::UnitsWindow> unitsWindow;
    int boundUnit = -1;

    // A room over `count` units of serials serialOf(0..), the first `plugged` of them plugged
    // in, with the windows bound to the unit it shows.
    void start(int count, int plugged) {
        room::UnitRoom::Setup setup;
        setup.image = &embeddedHidImage;
        setup.libraryLoaded = [this, count, plugged](LoadedLibrary& library) {
            if (bench == nullptr) {
                bench = reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))();
                bench->unit(0).setIdentity(identity(0));
                bench->unit(0).setLevelPattern(unit::LevelPattern::Silence);
                for (int i = 1; i < count; ++i) {
                    const int n = bench->addUnit(identity(i));
                    bench->unit(n).setLevelPattern(unit::LevelPattern::Silence);
                    bench->setPlugged(n, i < plugged);
                }
            } else {
                reinterpret_cast<decltype(&VUjoin)>(library.symbol("VUjoin"))(bench);
            }
        };
        setup.shownAnswered = [this] { w.requestRefresh(); };
        // Device changes are followed when a test says so.
        setup.deviceEvent = [] {};
        room = std::make_unique<room::UnitRoom>(setup);

        // As the program binds them.
        QObject::connect(room.get(), &room::UnitRoom::shownChanged, &w, [this](int index) {
            if (boundUnit >= 0) {
                room::RoomUnit& old = room->unit(boundUnit);
                old.attachView(nullptr);
                old.answers().window = nullptr;
            }
            boundUnit = index;
            room::RoomUnit& u = room->unit(index);
            tfu.showLink(u.link());
            u.answers().window = &tfu;
            w.levelMeters()->attachMemory(&u.levels());
            w.showLink(u.link());
            u.attachView(&view);
            w.setUnitName(room->several() || !u.label().empty() ? QString::fromStdString(u.name())
                                                                : QString());
        });
        QObject::connect(room.get(), &room::UnitRoom::unitAdded, &w, [this](int index) {
            room::RoomUnit& u = room->unit(index);
            if (const auto l = labels.find(u.key().serial); l != labels.end()) {
                u.setLabel(l->second);
            }
        });
        bar = new QToolBar(QStringLiteral("Units"), &w);
        bar->setMovable(false);
        bar->setFloatable(false);
        chooser = new units::UnitChooser(
            *room, [this] { return !tfu.isVisible() && !tfu.busy(); }, bar);
        bar->addWidget(chooser);
        w.addToolBar(Qt::TopToolBarArea, bar);
        bar->setVisible(false);
        QObject::connect(chooser, &units::UnitChooser::wanted, bar, [this](bool on) {
            if (bar->isVisible() != on) {
                bar->setVisible(on);
            }
        });
        unitsWindow = std::make_unique<units::UnitsWindow>(*room);

        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        ASSERT_TRUE(room->start()) << room->lastError();
        ASSERT_EQ(room->count(), plugged);
        ASSERT_EQ(room->shown(), 0);
    }
    static unit::Identity identity(int n) {
        unit::Identity id;
        id.serial = serialOf(n);
        return id;
    }
    void TearDown() override {
        unitsWindow.reset();
        delete bar;
        room.reset();
    }

    // Waits until every unit has stored a few more answers.
    bool allAnswer() {
        std::vector<uint64_t> from;
        for (int i = 0; i < room->count(); ++i) {
            from.push_back(room->unit(i).link().answersStored());
        }
        return QTest::qWaitFor(
            [&] {
                for (int i = 0; i < room->count(); ++i) {
                    if (room->unit(i).link().answersStored() <
                        from[static_cast<std::size_t>(i)] + 3) {
                        return false;
                    }
                }
                return true;
            },
            10000);
    }
    bool waitForOver(int index) {
        return QTest::qWaitFor([&] { return room->unit(index).levels().anyOver(); }, 10000);
    }
    static QString accessibleName(QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    }
    static QString accessibleDescription(QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description);
    }
    // Waits until the window, and what was added to it, has taken the size its layout asks for
    // (it is of fixed size).
    static bool settled(QWidget& window) {
        // Rows added to a shown strip are shown and laid out by posted events.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        window.layout()->activate();
        return QTest::qWaitFor(
            [&] {
                return window.size() == window.minimumSize() &&
                       window.size() == window.maximumSize();
            },
            5000);
    }
    bool red(const QLabel* l) const {
        return l->palette().color(QPalette::WindowText) == QColor(220, 0, 0);
    }
};

TEST_F(UnitViews, TheStripComesWithASecondUnitAndTheOneUnitWindowStaysAsItWas) {
    start(2, 1);
    // The window of one unit: the panel alone, at its place and size.
    LinkState link;
    test::ScriptedDialogs plainDialogs;
    Tfu plainTfu{link, plainDialogs};
    Tfmain plain{link, plainTfu, plainDialogs};
    plain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plain));
    ASSERT_TRUE(settled(plain));
    ASSERT_TRUE(settled(w));
    EXPECT_FALSE(room->several());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(w.size(), plain.size());
    EXPECT_EQ(w.centralWidget()->geometry(), plain.centralWidget()->geometry());

    bench->setPlugged(1, true);
    room->followDeviceChange();
    ASSERT_EQ(room->count(), 2);
    EXPECT_TRUE(room->several());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(chooser->rowCount(), 2);
    EXPECT_EQ(unitsWindow->tileCount(), 2);
    EXPECT_EQ(room->shown(), 0) << "a second unit takes nothing from the first";
    // The panel keeps its size under the strip.
    ASSERT_TRUE(settled(w));
    EXPECT_EQ(w.centralWidget()->size(), plain.centralWidget()->size());
    EXPECT_GE(w.centralWidget()->y(), bar->geometry().bottom());

    // Unplugged again: the strip stays, since two were connected in this run.
    bench->setPlugged(1, false);
    room->followDeviceChange();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(chooser->row(1)->accessibleDescription().section(QLatin1Char(','), 0, 0),
              QStringLiteral("unplugged"));
}

TEST_F(UnitViews, KeysAndRowsChooseTheUnitThePanelDrives) {
    start(3, 3);
    ASSERT_TRUE(allAnswer());
    struct Way {
        const char* name;
        int target;
        std::function<void(UnitViews&)> choose;
    };
    const Way ways[] = {
        {"Ctrl+2", 1, [](UnitViews& t) { QTest::keyClick(&t.w, Qt::Key_2, Qt::ControlModifier); }},
        {"Ctrl+3", 2, [](UnitViews& t) { QTest::keyClick(&t.w, Qt::Key_3, Qt::ControlModifier); }},
        {"Ctrl+Tab", 1,
         [](UnitViews& t) { QTest::keyClick(&t.w, Qt::Key_Tab, Qt::ControlModifier); }},
        {"Ctrl+Shift+Tab", 2,
         [](UnitViews& t) {
             QTest::keyClick(&t.w, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
         }},
        {"Down on the chosen row", 1,
         [](UnitViews& t) {
             t.chooser->row(0)->setFocus();
             QTest::keyClick(t.chooser->row(0), Qt::Key_Down);
         }},
        {"Space on another row", 2,
         [](UnitViews& t) {
             t.chooser->row(2)->setFocus();
             QTest::keyClick(t.chooser->row(2), Qt::Key_Space);
         }},
        {"click on a row", 1,
         [](UnitViews& t) { QTest::mouseClick(t.chooser->row(1), Qt::LeftButton); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        room->setShown(0);
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        way.choose(*this);
        ASSERT_EQ(room->shown(), way.target);
        EXPECT_EQ(&w.shownLink(), &room->unit(way.target).link());
        for (int i = 0; i < room->count(); ++i) {
            EXPECT_EQ(chooser->row(i)->isChecked(), i == way.target) << "row " << i;
        }

        // A preset pressed on the panel reaches the chosen unit's memory alone.
        std::vector<DeviceSettings> before;
        for (int i = 0; i < room->count(); ++i) {
            before.push_back(bench->unit(i).settings());
        }
        const int preset = (before[static_cast<std::size_t>(way.target)].preset + 1) % 4;
        THSSpeedButton* buttons[] = {w.but0, w.but1, w.but2, w.but3};
        QTest::mousePress(buttons[preset], Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(buttons[preset], Qt::LeftButton, {}, QPoint(5, 5));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return bench->unit(way.target).settings().preset == preset; }, 5000));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return room->unit(way.target).link().writeAcked(); }, 5000));
        for (int i = 0; i < room->count(); ++i) {
            if (i != way.target) {
                EXPECT_EQ(bench->unit(i).settings(), before[static_cast<std::size_t>(i)])
                    << "unit " << i;
            }
        }
    }
}

TEST_F(UnitViews, AnOverOnAUnitNotShownStaysInItsRowUntilCleared) {
    start(3, 3);
    ASSERT_TRUE(allAnswer());
    unitsWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(unitsWindow.get()));
    // Their once-a-second look for state words that change with time alone would hide a latch
    // change they were not told of.
    for (QTimer* tick : chooser->findChildren<QTimer*>() + unitsWindow->findChildren<QTimer*>()) {
        tick->stop();
    }
    struct Way {
        const char* name;
        std::function<void(UnitViews&, int index)> clear;
    };
    const Way ways[] = {
        {"Clear over from the row's menu",
         [](UnitViews& t, int index) {
             units::UnitRow* row = t.chooser->row(index);
             bool offered = false;
             QTimer::singleShot(0, row, [&offered] {
                 auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                 if (menu == nullptr) {
                     return;
                 }
                 for (QAction* a : menu->actions()) {
                     if (QString(a->text()).remove(QLatin1Char('&')) ==
                         QStringLiteral("Clear over")) {
                         offered = true;
                         a->trigger();
                     }
                 }
                 menu->close();
             });
             QContextMenuEvent e(QContextMenuEvent::Keyboard, QPoint(10, 10),
                                 row->mapToGlobal(QPoint(10, 10)));
             QApplication::sendEvent(row, &e);
             EXPECT_TRUE(offered);
         }},
        {"chosen, then the meter's readings clicked",
         [](UnitViews& t, int index) {
             ASSERT_TRUE(t.chooser->choose(index));
             const auto& channels = t.room->unit(index).levels().channels;
             for (int c = 0; c < 2; ++c) {
                 QLabel* reading = c == 0 ? static_cast<QLabel*>(t.w.levl) : t.w.levr;
                 const bool latched = channels[static_cast<std::size_t>(c)].latch.latched();
                 EXPECT_EQ(t.red(reading), latched) << "the panel shows the unit's latch";
                 if (latched) {
                     QTest::mouseClick(reading, Qt::LeftButton);
                 }
             }
         }},
        {"Space on its tile in the Units window",
         [](UnitViews& t, int index) {
             t.unitsWindow->activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(t.unitsWindow.get()));
             t.unitsWindow->tile(index)->setFocus();
             QTest::keyClick(t.unitsWindow->tile(index), Qt::Key_Space);
         }},
        {"click on its tile",
         [](UnitViews& t, int index) {
             QTest::mouseClick(t.unitsWindow->tile(index), Qt::LeftButton);
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        room->setShown(0);
        const int index = 2;
        bench->unit(index).setLevelPattern(unit::LevelPattern::Overload);
        ASSERT_TRUE(waitForOver(index));
        bench->unit(index).setLevelPattern(unit::LevelPattern::Silence);
        // Quiet again: the latch stays, and the row and the tile say so.
        ASSERT_TRUE(allAnswer());
        EXPECT_TRUE(room->unit(index).levels().anyOver());
        EXPECT_TRUE(accessibleDescription(chooser->row(index)).contains(QStringLiteral("over")))
            << accessibleDescription(chooser->row(index)).toStdString();
        EXPECT_TRUE(
            accessibleDescription(unitsWindow->tile(index)).contains(QStringLiteral("over")))
            << accessibleDescription(unitsWindow->tile(index)).toStdString();
        EXPECT_FALSE(accessibleDescription(chooser->row(1)).contains(QStringLiteral("over")));
        EXPECT_FALSE(room->unit(1).levels().anyOver()) << "an over stays on its unit";

        way.clear(*this, index);
        EXPECT_FALSE(room->unit(index).levels().anyOver());
        ASSERT_TRUE(allAnswer());
        EXPECT_FALSE(accessibleDescription(chooser->row(index)).contains(QStringLiteral("over")))
            << accessibleDescription(chooser->row(index)).toStdString();
        EXPECT_FALSE(
            accessibleDescription(unitsWindow->tile(index)).contains(QStringLiteral("over")))
            << accessibleDescription(unitsWindow->tile(index)).toStdString();
    }
}

TEST_F(UnitViews, EveryRowAndTileNamesItsUnit) {
    labels[serialOf(1)] = "Studio A L/R";
    labels[serialOf(3)] = "Rack 2";
    start(4, 4);
    unitsWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(unitsWindow.get()));
    ASSERT_EQ(chooser->rowCount(), 4);
    ASSERT_EQ(unitsWindow->tileCount(), 4);
    for (int i = 0; i < room->count(); ++i) {
        const room::RoomUnit& u = room->unit(i);
        SCOPED_TRACE(u.key().serial);
        const auto label = labels.find(u.key().serial);
        const QString name = label != labels.end() ? QString::fromStdString(label->second)
                                                   : QString::fromStdString(u.key().serial);
        EXPECT_EQ(accessibleName(chooser->row(i)), name);
        EXPECT_EQ(accessibleName(unitsWindow->tile(i)), name);
        // Told as connected once it answers.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return accessibleDescription(chooser->row(i))
                    .startsWith(QStringLiteral("connected"));
            },
            5000))
            << accessibleDescription(chooser->row(i)).toStdString();
        const QString description = accessibleDescription(chooser->row(i));
        // A labelled unit's serial is still told.
        EXPECT_EQ(description.contains(QString::fromStdString(u.key().serial)),
                  label != labels.end())
            << description.toStdString();
        EXPECT_TRUE(description.endsWith(QStringLiteral("Ctrl+%1").arg(i + 1)))
            << description.toStdString();
    }
    // Rows as wide as the panel, tiles as large as they ask to be in the window first shown, so
    // that names are not cut short; rows one under another, tiles side by side, none over
    // another.
    for (int i = 0; i < room->count(); ++i) {
        EXPECT_GE(chooser->row(i)->width(), w.centralWidget()->width() * 9 / 10);
        EXPECT_GE(unitsWindow->tile(i)->width(), unitsWindow->tile(i)->sizeHint().width());
        EXPECT_GE(unitsWindow->tile(i)->height(), unitsWindow->tile(i)->sizeHint().height());
    }
    for (int i = 0; i < room->count(); ++i) {
        for (int j = i + 1; j < room->count(); ++j) {
            EXPECT_FALSE(chooser->row(i)->geometry().intersects(chooser->row(j)->geometry()));
            EXPECT_FALSE(
                unitsWindow->tile(i)->geometry().intersects(unitsWindow->tile(j)->geometry()));
        }
        EXPECT_TRUE(unitsWindow->rect().contains(unitsWindow->tile(i)->geometry()));
    }

    // Drawn without complaint in the main window's font (set in pixels).
    static std::mutex lock;
    static QStringList warnings;
    const QtMessageHandler before =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type != QtDebugMsg && type != QtInfoMsg) {
                const std::lock_guard hold(lock);
                warnings << text;
            }
        });
    w.grab();
    unitsWindow->grab();
    qInstallMessageHandler(before);
    const std::lock_guard hold(lock);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char('\n')).toStdString();
}

TEST_F(UnitViews, ManyUnitsScrollInTheStripWhichKeepsTheChosenOneInSight) {
    start(7, 6);
    const auto inSight = [this](int index) {
        QWidget* r = chooser->row(index);
        const QRect seen(r->mapTo(chooser, QPoint(0, 0)), r->size());
        return r->isVisible() && chooser->rect().contains(seen);
    };
    // Chosen as soon as it is there, before its row is placed.
    ASSERT_TRUE(chooser->choose(5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return inSight(5); }, 5000));
    ASSERT_TRUE(bar->isVisible());
    ASSERT_TRUE(settled(w));
    const int sixUnits = w.height();
    bench->setPlugged(6, true);
    room->followDeviceChange();
    ASSERT_EQ(chooser->rowCount(), 7);
    ASSERT_TRUE(settled(w));
    EXPECT_EQ(w.height(), sixUnits) << "the strip grows no taller than five rows";
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_7, Qt::ControlModifier);
    ASSERT_EQ(room->shown(), 6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return inSight(6); }, 5000));
    QTest::keyClick(&w, Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_EQ(room->shown(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return inSight(0); }, 5000));
    // Down, row by row, to the last, which scrolls into sight.
    chooser->row(0)->setFocus();
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        EXPECT_EQ(QApplication::focusWidget(), chooser->row(i + 1))
            << (QApplication::focusWidget()
                    ? QApplication::focusWidget()->objectName().toStdString()
                    : std::string("none"));
    }
    EXPECT_EQ(room->shown(), 6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return inSight(6); }, 5000));
}

// A window's picture under its title, which no window manager draws here.
QImage titled(QWidget* window) {
    const QImage body = window->grab().toImage();
    const QFont font(QStringLiteral("DejaVu Sans"), 10, QFont::Bold);
    const int bar = QFontMetrics(font).height() + 8;
    const int width =
        std::max(body.width(), QFontMetrics(font).horizontalAdvance(window->windowTitle()) + 16);
    QImage out(width, bar + body.height(), QImage::Format_RGB32);
    out.fill(QColor(250, 250, 250));
    QPainter p(&out);
    p.fillRect(QRect(0, 0, width, bar), QColor(60, 70, 90));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(8, 0, width - 8, bar), Qt::AlignVCenter | Qt::AlignLeft,
               window->windowTitle());
    p.drawImage(0, bar, body);
    return out;
}

// Pictures for a person to look at, not checks. Run by hand:
//   QX_SHOTS_DIR=/some/folder test_unit_views --gtest_also_run_disabled_tests
//       --gtest_filter='*Shots*'
TEST_F(UnitViews, DISABLED_Shots) {
    const QString dir = qEnvironmentVariable("QX_SHOTS_DIR", QStringLiteral("/tmp/qx-shots"));
    QDir().mkpath(dir);
    const auto save = [&](QWidget* window, const char* name) {
        ASSERT_TRUE(titled(window).save(dir + QLatin1Char('/') + QLatin1String(name)));
    };
    labels[serialOf(1)] = "Studio A L/R";
    labels[serialOf(2)] = "Rack 2";
    start(4, 1);
    bench->unit(0).setLevelPattern(unit::LevelPattern::Programme);
    QTest::qWait(1500);
    save(&w, "main-one-unit.png");

    for (int i = 1; i < 4; ++i) {
        bench->unit(i).setLevelPattern(unit::LevelPattern::Programme);
        bench->setPlugged(i, true);
    }
    room->followDeviceChange();
    ASSERT_EQ(room->count(), 4);
    // An over on a unit not shown, then programme again; the panel shows "Studio A L/R".
    bench->unit(2).setLevelPattern(unit::LevelPattern::Overload);
    ASSERT_TRUE(waitForOver(2));
    bench->unit(2).setLevelPattern(unit::LevelPattern::Programme);
    ASSERT_TRUE(chooser->choose(1));
    chooser->row(3)->setFocus();
    QTest::qWait(1500);
    save(&w, "main-four-units-over-on-rack-2.png");
    // The strip three times as large.
    const QImage strip = titled(&w).copy(0, 0, w.width(), bar->geometry().bottom() + 30);
    ASSERT_TRUE(strip.scaled(strip.size() * 3).save(dir + QStringLiteral("/strip-zoomed.png")));

    unitsWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(unitsWindow.get()));
    QTest::qWait(1500);
    save(unitsWindow.get(), "units-window-four-units.png");
    unitsWindow->resize(1000, 460);
    unitsWindow->tile(3)->setFocus();
    QTest::qWait(1000);
    save(unitsWindow.get(), "units-window-four-units-large.png");
    unitsWindow->resize(380, 200);
    QTest::qWait(500);
    save(unitsWindow.get(), "units-window-four-units-small.png");
}

TEST_F(UnitViews, DISABLED_ShotsSevenUnits) {
    const QString dir = qEnvironmentVariable("QX_SHOTS_DIR", QStringLiteral("/tmp/qx-shots"));
    QDir().mkpath(dir);
    start(7, 7);
    ASSERT_TRUE(chooser->choose(6));
    QTest::qWait(1500);
    ASSERT_TRUE(titled(&w).save(dir + QStringLiteral("/main-seven-units-last-chosen.png")));
}

} // namespace
} // namespace qx
