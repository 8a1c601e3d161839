// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/MainWindowAccess.h"

#include "controls/ReadOnlyAccessibleText.h"
#include "panel/umain.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>

namespace qx {

namespace {

// Set on the speed buttons that are one of several exclusive choices.
constexpr auto kExclusiveChoice = "exclusiveChoice";
// The widget that holds the presets, a group for a screen reader.
constexpr auto kChoiceGroup = "choiceGroup";

// A speed button as a toggle (lit in any colour scheme is on), or as a radio button when it is
// one of a group of exclusive choices.
class SpeedButtonAccessible : public QAccessibleWidget {
public:
    explicit SpeedButtonAccessible(THSSpeedButton* b) : QAccessibleWidget(b, QAccessible::Button) {
        addControllingSignal(QStringLiteral("clicked()"));
    }
    QAccessible::Role role() const override {
        return widget()->property(kExclusiveChoice).toBool() ? QAccessible::RadioButton
                                                             : QAccessible::Button;
    }
    QString text(QAccessible::Text t) const override {
        const auto* b = static_cast<const THSSpeedButton*>(widget());
        switch (t) {
        case QAccessible::Name:
            return b->accessibleName().isEmpty() ? b->caption() : b->accessibleName();
        case QAccessible::Value:
            return on() ? QStringLiteral("on") : QStringLiteral("off");
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = on();
        return s;
    }

private:
    bool on() const {
        return static_cast<const THSSpeedButton*>(widget())->colorStyle() != lcsChrome;
    }
};

// A drop-down list named by what it chooses; its choice is its value. (The one Qt gives names
// a list by its current text on Linux, so a reader would hear "SDI #2" and never what it is
// for.) Its drop-down is its one child, as Qt's own. Only for lists that cannot be edited, as
// all of this program's are.
class NamedListAccessible : public QAccessibleWidget, public ReadOnlyAccessibleText {
public:
    explicit NamedListAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {
        addControllingSignal(QStringLiteral("activated(int)"));
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(t);
    }
    // Over AT-SPI the value of a list is read as its text.
    QString readOnlyText() const override { return box()->currentText(); }
    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            // A list without a name of its own is still named by its choice.
            return box()->accessibleName().isEmpty() ? box()->currentText()
                                                     : box()->accessibleName();
        case QAccessible::Value:
            return box()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == box()->view() ? 0 : -1;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->view()->isVisible();
        return s;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction()) {
            box()->showPopup();
        }
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* mainWindowFactory(const QString& className, QObject* object) {
    if (!object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("THSSpeedButton")) {
        return new SpeedButtonAccessible(static_cast<THSSpeedButton*>(object));
    }
    if (className == QLatin1String("QComboBox")) {
        return new NamedListAccessible(static_cast<QComboBox*>(object));
    }
    if (className == QLatin1String("QWidget") && widget->property(kChoiceGroup).toBool()) {
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    }
    return nullptr;
}

} // namespace

void installMainWindowAccessibility() {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(mainWindowFactory);
        return true;
    }();
    (void)factoryInstalled;
}

void nameMainWindowControls(Tfmain& w) {

    const std::pair<QWidget*, const char*> names[] = {
        {w.but0, "Preset 1"},
        {w.but1, "Preset 2"},
        {w.but2, "Preset 3"},
        {w.but3, "Preset 4"},
        {w.mute, "Mute"},
        {w.sum, "Sum"},
        {w.dif, "Difference"},
        {w.dim, "Dim"},
        {w.gainL, "Left gain"},
        {w.gainR, "Right gain"},
        {w.srcL, "Left source"},
        {w.srcR, "Right source"},
        {w.rb_vu, "Ballistics VU"},
        {w.rb_ppm, "Ballistics PPM"},
        {w.brg0, "Brightness 10%"},
        {w.brg1, "Brightness 30%"},
        {w.brg2, "Brightness 50%"},
        {w.brg3, "Brightness 100%"},
        {w.peak0, "Peak hold off"},
        {w.peak1, "Peak hold peak"},
        {w.peak2, "Peak hold true peak"},
        {w.rb_db, "Scale dB"},
        {w.rb_dbfs, "Scale dBFS"},
    };
    for (const auto& [widget, name] : names) {
        widget->setAccessibleName(QString::fromLatin1(name));
    }
    for (THSSpeedButton* b : {w.but0, w.but1, w.but2, w.but3}) {
        b->setProperty(kExclusiveChoice, true);
    }
    if (QWidget* group = w.but0->parentWidget();
        group != nullptr && group != w.mute->parentWidget()) {
        group->setProperty(kChoiceGroup, true);
        group->setAccessibleName(QStringLiteral("Presets"));
    }
    // Each list's caption ("Source" over it) labels it for a reader too.
    w.lbl4->setBuddy(w.srcL);
    w.lbl8->setBuddy(w.srcR);
}

QString dimButtonName(uint8_t dimMode) {
    // As the button's colour: other bytes show as off.
    switch (dimMode) {
    case 1:
        return QStringLiteral("Dim -20 dB");
    case 2:
        return QStringLiteral("Dim +20 dB");
    default:
        return QStringLiteral("Dim off");
    }
}

void nameDimButton(THSSpeedButton& dim, uint8_t dimMode) {
    const QString name = dimButtonName(dimMode);
    if (dim.accessibleName() != name) {
        dim.setAccessibleName(name);
    }
}

} // namespace qx
