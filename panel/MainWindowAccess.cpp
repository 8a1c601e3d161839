#include "panel/MainWindowAccess.h"

#include "panel/umain.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QRadioButton>
#include <QSpinBox>

namespace qx {

namespace {

// A speed button as a toggle: lit in any colour scheme is on.
class SpeedButtonAccessible : public QAccessibleWidget {
public:
    explicit SpeedButtonAccessible(THSSpeedButton* b) : QAccessibleWidget(b, QAccessible::Button) {
        addControllingSignal(QStringLiteral("clicked()"));
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

QAccessibleInterface* speedButtonFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("THSSpeedButton") && object->isWidgetType()) {
        return new SpeedButtonAccessible(static_cast<THSSpeedButton*>(object));
    }
    return nullptr;
}

} // namespace

void nameMainWindowControls(Tfmain& w) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(speedButtonFactory);
        return true;
    }();
    (void)factoryInstalled;

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
}

} // namespace qx
