// SPDX-License-Identifier: GPL-3.0-or-later
// THSSpeedButton: a push and toggle button drawn from an off-screen image, with radio groups,
// a caption with "&" accelerator, an optional glyph strip, hot tracking with an optional fade,
// seven painting styles and five colour schemes.
//
// The button has no native window. Property setters store and then repaint: "paint now" setters
// call repaint(), the others update(). Events are Qt signals, raised in this order for a left click
// of a plain button: mouseDown (Down still old), clicked (still down), mouseUp (still down), and
// then the button goes up.
#ifndef QX_CONTROLS_HSSPEEDBUTTON_H
#define QX_CONTROLS_HSSPEEDBUTTON_H

#include "HSButtons.h"

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <memory>

class QPainter;

#include <QAction>
#include <QMenu>

// Style actually stored for a requested one: bsModern needs more than 8 bits per pixel.
THSButtonStyle EffectiveButtonStyle(THSButtonStyle requested, int depthBits);

// The keyboard focus mark, drawn over a finished button image inside rectangle `r`.
void PaintFocusMark(QPainter& painter, const QRect& r);

// The accelerator character of a caption: the one after a single "&" ("&&" is a literal "&");
// a null QChar when there is none.
QChar CaptionAccelerator(const QString& caption);

class THSSpeedButton : public QWidget {
    Q_OBJECT
public:
    explicit THSSpeedButton(QWidget* aOwner = nullptr);
    ~THSSpeedButton() override;

    QAction* action() const { return FAction; }
    void setAction(QAction* action);

    THSAlignment alignment() const { return FAlignment; }
    void setAlignment(THSAlignment value);
    THSVerticalAlignment vAlignment() const { return FVAlignment; }
    void setVAlignment(THSVerticalAlignment value);
    bool allowAllUp() const { return FAllowAllUp; }
    void setAllowAllUp(bool value) { FAllowAllUp = value; }
    quint8 border() const { return FBorder; }
    void setBorder(quint8 value);
    QString caption() const { return FCaption; }
    void setCaption(const QString& value);
    TColor color() const { return FColor; }
    void setColor(TColor value);
    TColor colorWhenDown() const { return FColorWhenDown; }
    void setColorWhenDown(TColor value);
    // The last scheme assigned; compare before assigning, since assigning always repaints.
    THSColorStyle colorStyle() const { return FDummyStyle; }
    void setColorStyle(THSColorStyle value);
    bool down() const { return FDown; }
    void setDown(bool value);
    bool flat() const { return FFlat; }
    void setFlat(bool value);
    TColor fontColor() const { return FFontColor; }
    void setFontColor(TColor value);
    QImage glyph() const { return FGlyph; }
    // A null image empties the glyph; otherwise NumGlyphs becomes width div height.
    void setGlyph(const QImage& value);
    int groupIndex() const { return FGroupIndex; }
    void setGroupIndex(int value);
    TColor hotTrackColor() const { return FHotTrackColor; }
    void setHotTrackColor(TColor value) { FHotTrackColor = value; }
    QFont hotTrackFont() const { return FHTFont; }
    void setHotTrackFont(const QFont& value) { FHTFont = value; }
    // Named buttonLayout/buttonStyle because QWidget already has layout() and style().
    THSButtonLayout buttonLayout() const { return FLayout; }
    void setButtonLayout(THSButtonLayout value);
    TColor lightColor() const { return FLightColor; }
    void setLightColor(TColor value);
    int numGlyphs() const { return FNumGlyphs; }
    void setNumGlyphs(int value);
    QMenu* popupMenu() const { return FPopupMenu; }
    void setPopupMenu(QMenu* menu);
    TColor shadowColor() const { return FShadowColor; }
    void setShadowColor(TColor value);
    THSSlowDecease slowDecease() const { return FSlowDecease; }
    void setSlowDecease(THSSlowDecease value);
    qint16 smooth() const { return FSmooth; }
    void setSmooth(qint16 value);
    THSButtonStyle buttonStyle() const { return FStyle; }
    void setButtonStyle(THSButtonStyle value);
    bool transparent() const { return FTransparent; }
    void setTransparent(bool value);
    bool useHotTrackFont() const { return FUseHTFont; }
    void setUseHotTrackFont(bool value) { FUseHTFont = value; }
    bool wordWrap() const { return FWordWrap; }
    void setWordWrap(bool value);

    // Hover state and fade.
    bool cursorOnButton() const { return bCursorOnButton; }
    int hotTrackStep() const { return FHotTrackStep; }
    THSButtonTimer* fadeTimer() const { return FTimer.get(); }
    // One fade tick; the timer calls it every 30 ms while it runs.
    void hotTrackTimerTick();

    // Everything painting needs, as a plain value.
    THSButtonPaintState paintState() const;

    // Pops up the menu if any, then runs the action or raises clicked().
    void click();
    // The accelerator: runs a click when ch is the caption's accelerator; true when handled.
    bool dialogChar(QChar ch);

signals:
    void clicked();
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseMove(Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseEnter();
    void mouseExit();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    // Space, Return and Enter press the button as the left mouse button does; the menu key and
    // Shift+F10 as the right one does.
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void repaintRule();
    void handlePress(QMouseEvent* e);
    // A press and release of `button` in the button's centre, as the mouse makes them.
    void pressFromKeyboard(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void actionChange();
    void takeActionImage();
    bool parentShowing() const;
    void regrabShortcut();

    THSAlignment FAlignment = taCenter;
    THSVerticalAlignment FVAlignment = taAlignTop;
    bool FAllowAllUp = false;
    TColor FColorWhenDown = clNone;
    bool FDown = false;
    bool FFlat = false;
    bool FWordWrap = false;
    QImage FGlyph;
    int FGroupIndex = 0;
    TColor FHotTrackColor = clNone;
    QFont FHTFont;
    THSButtonLayout FLayout = blGlyphLeft;
    TColor FLightColor = RGBColor(255, 255, 255);
    int FNumGlyphs = 0;
    TColor FShadowColor = RGBColor(0, 0, 0);
    THSButtonStyle FStyle = bsNormal;
    bool FTransparent = false;
    bool FUseHTFont = false;
    THSColorStyle FDummyStyle = lcsChrome;
    bool bCursorOnButton = false;
    std::unique_ptr<THSButtonTimer> FTimer;
    THSSlowDecease FSlowDecease = sdNone;
    int FHotTrackStep = 0;
    TColor FColor = clBtnFace;
    quint8 FBorder = 1;
    qint16 FSmooth = 0;

    QString FCaption;
    TColor FFontColor = clWindowText;
    QPointer<QAction> FAction;
    QPointer<QMenu> FPopupMenu;
    int FShortcutId = 0;
    bool FDestroying = false;
};

#endif
