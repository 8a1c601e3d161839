// SPDX-License-Identifier: GPL-3.0-or-later
// Properties, painting and the down/group rules of THSSpeedButton.
#include "HSSpeedButton.h"

#include <QAction>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>

THSButtonStyle EffectiveButtonStyle(THSButtonStyle requested, int depthBits) {
    return (requested == bsModern && depthBits <= 8) ? bsNormal : requested;
}

THSSpeedButton::THSSpeedButton(QWidget* aOwner) : QWidget(aOwner) {
    resize(100, 23);
    setMouseTracking(true); // mouseMove is raised without a button held, too
    // Reached with Tab only: a click must not move the focus away from the control being edited.
    setFocusPolicy(Qt::TabFocus);
    if (aOwner != nullptr && aOwner->isWindow()) {
        FHTFont = aOwner->font();
    }
}

THSSpeedButton::~THSSpeedButton() {
    FDestroying = true;
    if (FTimer) {
        FTimer->Suspend();
        FTimer.reset();
    }
}

void THSSpeedButton::repaintRule() {
    // A transparent button needs its parent to draw the background first.
    if (FTransparent) {
        update();
    } else {
        repaint();
    }
}

void THSSpeedButton::setAlignment(THSAlignment value) {
    FAlignment = value;
    repaintRule();
}

void THSSpeedButton::setVAlignment(THSVerticalAlignment value) {
    FVAlignment = value;
    repaintRule();
}

void THSSpeedButton::setBorder(quint8 value) {
    FBorder = value;
    update();
}

void THSSpeedButton::setCaption(const QString& value) {
    FCaption = value;
    regrabShortcut();
    update();
}

void THSSpeedButton::setColor(TColor value) {
    FColor = value;
    // Derive from the colour as drawn, so a system colour gives sensible companions.
    const TColor resolved = ResolveColor(value, palette());
    FLightColor = ShiftColor(resolved, +128);
    FHotTrackColor = ShiftColor(resolved, +32);
    FShadowColor = ShiftColor(resolved, -128);
    FFontColor = RedOf(GrayOf(resolved)) >= 96 ? RGBColor(0, 0, 0) : RGBColor(255, 255, 255);
    setColorWhenDown(clNone);
}

void THSSpeedButton::setColorWhenDown(TColor value) {
    FColorWhenDown = value;
    repaintRule();
}

void THSSpeedButton::setColorStyle(THSColorStyle value) {
    const THSColorScheme scheme = GetColorScheme(value);
    FColor = scheme.face;
    FLightColor = scheme.light;
    FShadowColor = scheme.shadow;
    FColorWhenDown = scheme.down;
    FHotTrackColor = scheme.hot;
    FFlat = scheme.flat;
    FFontColor = scheme.fontColor;
    FStyle = EffectiveButtonStyle(scheme.style, depth());
    FDummyStyle = value;
    repaint();
}

void THSSpeedButton::setDown(bool value) {
    if (value == FDown) {
        return;
    }
    if (FGroupIndex != 0 && parentWidget() != nullptr) {
        const auto siblings =
            parentWidget()->findChildren<THSSpeedButton*>(Qt::FindDirectChildrenOnly);
        for (THSSpeedButton* other : siblings) {
            if (other != this && other->FGroupIndex == FGroupIndex) {
                other->setDown(false);
            }
        }
    }
    FDown = value;
    repaintRule();
}

void THSSpeedButton::setFlat(bool value) {
    FFlat = value;
    update();
}

void THSSpeedButton::setFontColor(TColor value) {
    FFontColor = value;
    update();
}

void THSSpeedButton::setGlyph(const QImage& value) {
    if (value.isNull() || value.height() == 0) {
        FGlyph = QImage();
        FNumGlyphs = 0;
    } else {
        FGlyph = value.convertToFormat(QImage::Format_RGB32);
        FNumGlyphs = FGlyph.width() / FGlyph.height();
    }
    update();
}

void THSSpeedButton::setGroupIndex(int value) {
    FGroupIndex = value;
    repaintRule();
}

void THSSpeedButton::setButtonLayout(THSButtonLayout value) {
    FLayout = value;
    repaintRule();
}

void THSSpeedButton::setLightColor(TColor value) {
    FLightColor = value;
    repaintRule();
}

void THSSpeedButton::setNumGlyphs(int value) {
    FNumGlyphs = value;
    update();
}

void THSSpeedButton::setPopupMenu(QMenu* menu) {
    FPopupMenu = menu;
    update();
}

void THSSpeedButton::setShadowColor(TColor value) {
    FShadowColor = value;
    repaintRule();
}

void THSSpeedButton::setSlowDecease(THSSlowDecease value) {
    FSlowDecease = value;
    if (value == sdNone && FTimer) {
        FHotTrackStep = 0;
        FTimer.reset();
    } else if (value != sdNone && !FTimer) {
        FTimer = std::make_unique<THSButtonTimer>([this](THSButtonTimer*) { hotTrackTimerTick(); });
    }
    update();
}

void THSSpeedButton::setSmooth(qint16 value) {
    FSmooth = value;
    update();
}

void THSSpeedButton::setButtonStyle(THSButtonStyle value) {
    FStyle = EffectiveButtonStyle(value, depth());
    update();
}

void THSSpeedButton::setTransparent(bool value) {
    FTransparent = value;
    if (value) {
        update();
    } else {
        repaint();
    }
}

void THSSpeedButton::setWordWrap(bool value) {
    FWordWrap = value;
    repaintRule();
}

THSButtonPaintState THSSpeedButton::paintState() const {
    THSButtonPaintState s;
    s.width = width();
    s.height = height();
    s.alignment = FAlignment;
    s.caption = FCaption;
    s.layout = FLayout;
    s.font = (bCursorOnButton && FUseHTFont) ? FHTFont : font();
    s.fontColor = FFontColor;
    s.shadowColor = FShadowColor;
    s.lightColor = FLightColor;
    s.hotTrackColor = FHotTrackColor;
    s.colorWhenDown = FColorWhenDown;
    s.color = FColor;
    s.style = FStyle;
    s.hasPopupMenu = !FPopupMenu.isNull();
    s.wordWrap = FWordWrap;
    s.flat = FFlat;
    s.enabled = isEnabled();
    s.transparent = FTransparent;
    s.hot = bCursorOnButton;
    s.down = FDown;
    s.glyph = FGlyph;
    s.numGlyphs = FNumGlyphs;
    s.smooth = FSmooth;
    s.hotTrackStep = FHotTrackStep;
    s.border = FBorder;
    s.palette = palette();
    return s;
}

void THSSpeedButton::paintEvent(QPaintEvent*) {
    if (parentWidget() == nullptr) {
        return;
    }
    const QImage image = RenderButtonImage(paintState());
    if (image.isNull()) {
        return;
    }
    // One copy of the finished image; the key colour lets the parent show through.
    QPainter painter(this);
    painter.drawImage(0, 0, KeyOutColor(image, TransparentKey));
    if (hasFocus()) {
        PaintFocusMark(painter, rect());
    }
}

void PaintFocusMark(QPainter& painter, const QRect& r) {
    // Black dashes over a white line: seen on every scheme, from chrome to the dark blue.
    const QRectF mark = QRectF(r).adjusted(3, 3, -3, -3);
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 2));
    painter.drawRect(mark);
    QPen dashes(Qt::black, 2, Qt::CustomDashLine);
    dashes.setDashPattern({2, 2});
    painter.setPen(dashes);
    painter.drawRect(mark);
    painter.restore();
}
