// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/ScreenCentring.h"

#include "panel/PanelModel.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QScreen>
#include <QWidget>

namespace qx::panel {

namespace {

// move() places the frame's top-left corner, so the frame's size is what is centred.
void placeCentred(QWidget& window) {
    const QScreen* s = window.screen();
    if (s == nullptr) {
        return;
    }
    const QRect g = s->geometry();
    const QSize outer = window.frameGeometry().size();
    window.move(centredStart(g.x(), g.width(), outer.width()),
                centredStart(g.y(), g.height(), outer.height()));
}

// Places the window again once the desktop has framed it, then leaves. A desktop without frames
// never sends one: the watch ends a few seconds after showing, so that a later move stays.
class CentreWhenFramed : public QObject {
public:
    explicit CentreWhenFramed(QWidget& window) : QObject(&window), window_(window) {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &window_) {
            return false;
        }
        switch (event->type()) {
        case QEvent::Show:
            if (!shown_.isValid()) {
                shown_.start();
            }
            [[fallthrough]];
        case QEvent::Move:
        case QEvent::Resize:
            if (window_.frameGeometry().size() != window_.size()) {
                placeCentred(window_);
                deleteLater();
                window_.removeEventFilter(this);
            } else if (shown_.isValid() && shown_.elapsed() > kWatchMs) {
                deleteLater();
                window_.removeEventFilter(this);
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    static constexpr qint64 kWatchMs = 5000;
    QWidget& window_;
    QElapsedTimer shown_;
};

} // namespace

void centreOnScreen(QWidget& window) {
    placeCentred(window);
    if (!window.isVisible() || window.frameGeometry().size() == window.size()) {
        new CentreWhenFramed(window);
    }
}

} // namespace qx::panel
