// SPDX-License-Identifier: GPL-3.0-or-later
// Mouse, hover, fade, accelerator and action handling of THSSpeedButton.
#include "HSSpeedButton.h"

#include <QAction>
#include <QEnterEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>
#include <QStyle>

QChar CaptionAccelerator(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (caption[i + 1] != QLatin1Char('&')) {
                return caption[i + 1];
            }
            ++i; // "&&" is a literal "&"
        }
    }
    return {};
}

bool THSSpeedButton::parentShowing() const {
    return parentWidget() != nullptr && parentWidget()->isVisible();
}

void THSSpeedButton::regrabShortcut() {
    if (FShortcutId != 0) {
        releaseShortcut(FShortcutId);
        FShortcutId = 0;
    }
    const QKeySequence mnemonic = QKeySequence::mnemonic(FCaption);
    if (!mnemonic.isEmpty()) {
        FShortcutId = grabShortcut(mnemonic);
    }
}

bool THSSpeedButton::event(QEvent* e) {
    if (e->type() == QEvent::Shortcut) {
        auto* se = static_cast<QShortcutEvent*>(e);
        if (se->shortcutId() == FShortcutId && dialogChar(CaptionAccelerator(FCaption))) {
            return true;
        }
    }
    return QWidget::event(e);
}

bool THSSpeedButton::dialogChar(QChar ch) {
    const QChar accel = CaptionAccelerator(FCaption);
    if (accel.isNull() || ch.isNull() || accel.toCaseFolded() != ch.toCaseFolded() ||
        !isEnabled() || !isVisible() || !parentShowing()) {
        return false;
    }
    const bool saved = FDown;
    setDown(true);
    repaint();
    click();
    setDown(saved);
    repaint();
    return true;
}

void THSSpeedButton::click() {
    if (FPopupMenu) {
        FPopupMenu->popup(mapToGlobal(QPoint(0, height())));
    }
    if (FAction) {
        FAction->trigger();
    } else {
        emit clicked();
    }
}

void THSSpeedButton::handlePress(QMouseEvent* e) {
    emit mouseDown(e->button(), e->modifiers(), e->position().toPoint());
    if (e->button() != Qt::LeftButton) {
        return;
    }
    if (FGroupIndex == 0) {
        setDown(true);
    } else if (FDown) {
        if (FAllowAllUp) {
            setDown(false);
        }
    } else {
        setDown(true);
    }
}

void THSSpeedButton::mousePressEvent(QMouseEvent* e) {
    handlePress(e);
}

void THSSpeedButton::mouseDoubleClickEvent(QMouseEvent* e) {
    // The second press of a double click is an ordinary press.
    handlePress(e);
}

void THSSpeedButton::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    Qt::MouseButton button = Qt::NoButton;
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        mods == Qt::NoModifier) {
        button = Qt::LeftButton;
    } else if ((key == Qt::Key_Menu && mods == Qt::NoModifier) ||
               (key == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
        button = Qt::RightButton;
    }
    if (button == Qt::NoButton) {
        QWidget::keyPressEvent(e);
        return;
    }
    e->accept();
    // A held key presses once.
    if (!e->isAutoRepeat()) {
        pressFromKeyboard(button, e->modifiers());
    }
}

void THSSpeedButton::pressFromKeyboard(Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    const QPointF centre = QRectF(rect()).center();
    const QPointF global = mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, button, button, modifiers);
    handlePress(&press);
    repaint();
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, button, Qt::NoButton,
                        modifiers);
    mouseReleaseEvent(&release);
}

void THSSpeedButton::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    update();
}

void THSSpeedButton::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    update();
}

void THSSpeedButton::mouseMoveEvent(QMouseEvent* e) {
    emit mouseMove(e->modifiers(), e->position().toPoint());
}

void THSSpeedButton::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    if (e->button() == Qt::LeftButton && rect().contains(pos)) {
        click();
    }
    emit mouseUp(e->button(), e->modifiers(), pos);
    if (FGroupIndex == 0) {
        setDown(false);
    }
}

void THSSpeedButton::enterEvent(QEnterEvent* e) {
    QWidget::enterEvent(e);
    if (!isEnabled() || !isVisible() || !parentShowing()) {
        return;
    }
    bCursorOnButton = true;
    if (FSlowDecease == sdEnterLeave) {
        if (FTimer && FTimer->Suspended()) {
            FTimer->Start();
        }
    } else {
        FHotTrackStep = 8;
        repaintRule();
    }
    emit mouseEnter();
}

void THSSpeedButton::leaveEvent(QEvent* e) {
    QWidget::leaveEvent(e);
    bCursorOnButton = false;
    if (FSlowDecease == sdNone) {
        FHotTrackStep = 0;
        repaintRule();
    } else if (FTimer && FTimer->Suspended()) {
        FTimer->Start();
    }
    if (isEnabled() && isVisible() && parentShowing()) {
        emit mouseExit();
    }
}

void THSSpeedButton::hotTrackTimerTick() {
    if (FDestroying) {
        return;
    }
    FHotTrackStep += bCursorOnButton ? 1 : -1;
    if (FHotTrackStep <= 0 || FHotTrackStep >= 8) {
        FHotTrackStep = bCursorOnButton ? 8 : 0;
        if (FTimer && !FTimer->Suspended()) {
            FTimer->Suspend();
        }
    }
    repaintRule();
}

void THSSpeedButton::setAction(QAction* action) {
    if (FAction == action) {
        return;
    }
    if (FAction) {
        disconnect(FAction, nullptr, this, nullptr);
    }
    FAction = action;
    if (FAction) {
        connect(FAction, &QAction::changed, this, &THSSpeedButton::actionChange);
        actionChange();
    }
}

void THSSpeedButton::actionChange() {
    if (!FAction) {
        return;
    }
    setCaption(FAction->text());
    setEnabled(FAction->isEnabled());
    setToolTip(FAction->toolTip());
    setVisible(FAction->isVisible());
    takeActionImage();
}

void THSSpeedButton::takeActionImage() {
    // The action's icon becomes the glyph only while the button has none of its own.
    const QIcon icon = FAction->icon();
    if (icon.isNull() || !FGlyph.isNull()) {
        return;
    }
    const QList<QSize> sizes = icon.availableSizes();
    QSize size = sizes.isEmpty() ? QSize() : sizes.first();
    if (!size.isValid() || size.isEmpty()) {
        const int extent = QWidget::style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
        size = QSize(extent, extent);
    }
    QImage cell(size, QImage::Format_RGB32);
    cell.fill(Qt::black);
    {
        QPainter painter(&cell);
        painter.drawPixmap(0, 0, icon.pixmap(size, QIcon::Normal, QIcon::Off));
    }
    FGlyph = cell;
    FNumGlyphs = 1;
    repaint();
}
