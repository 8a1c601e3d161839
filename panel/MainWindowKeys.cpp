// SPDX-License-Identifier: GPL-3.0-or-later
// The main window from the keyboard: every control in Tab order, presets first, and the keys 1
// to 4 for the presets wherever the focus is in the window.
#include "panel/umain.h"

#include "levels/LevelMeters.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QFocusEvent>
#include <QRadioButton>
#include <QShortcut>
#include <QSpinBox>

#include <vector>

namespace qx {

namespace {

// Tab enters a radio group at its checked choice, as desktops do, not at its first one; the
// arrow keys then move inside the group.
class EnterGroupAtChecked : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::FocusIn) {
            return false;
        }
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        auto* b = qobject_cast<QAbstractButton*>(watched);
        if (b == nullptr || b->isChecked() || b->group() == nullptr ||
            (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason)) {
            return false;
        }
        if (QAbstractButton* checked = b->group()->checkedButton()) {
            checked->setFocus(reason);
        }
        return false;
    }
};

} // namespace

void Tfmain::setUpKeyboard() {
    // Top to bottom as the window shows them: the buttons, each column gain first, the two
    // meters, then the choices below them.
    const std::vector<QWidget*> order = {but0,
                                         but1,
                                         but2,
                                         but3,
                                         mute,
                                         sum,
                                         dif,
                                         dim,
                                         gainL,
                                         srcL,
                                         gainR,
                                         srcR,
                                         levelMeters_->meter(0),
                                         levelMeters_->meter(1),
                                         rb_vu,
                                         rb_ppm,
                                         brg0,
                                         brg1,
                                         brg2,
                                         brg3,
                                         peak0,
                                         peak1,
                                         peak2,
                                         rb_db,
                                         rb_dbfs};
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    auto* enterAtChecked = new EnterGroupAtChecked(this);
    for (QRadioButton* b :
         {rb_vu, rb_ppm, brg0, brg1, brg2, brg3, peak0, peak1, peak2, rb_db, rb_dbfs}) {
        b->installEventFilter(enterAtChecked);
    }

    THSSpeedButton* const presets[] = {but0, but1, but2, but3};
    const Qt::Key keys[] = {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4};
    for (std::size_t i = 0; i < 4; ++i) {
        // A gain editor takes the digit as typing before any shortcut sees it.
        auto* key = new QShortcut(QKeySequence(keys[i]), this);
        key->setContext(Qt::WindowShortcut);
        THSSpeedButton* button = presets[i];
        connect(key, &QShortcut::activated, this, [this, button] {
            // As the mouse can, only while the button takes input.
            if (button->isEnabled()) {
                but_down(button, Qt::LeftButton);
            }
        });
    }
}

} // namespace qx
