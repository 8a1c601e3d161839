// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's own look for the main window's radio buttons and source lists, with the room
// between a radio's mark and its caption and the width of a list's arrow brought down to what the
// window was laid out for. The desktop style leaves wider gaps, which crowd the brightness row and
// cut the last letter of "ANALOG R".
#pragma once

#include <QProxyStyle>

namespace qx::panel {

class CompactControls : public QProxyStyle {
public:
    // Gap between a radio button's mark and its caption, at most.
    static constexpr int kRadioSpacing = 3;
    // How much narrower a drop-down list's arrow is than the desktop draws it.
    static constexpr int kArrowNarrowing = 6;

    CompactControls();

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    // A radio button answers a click anywhere in its box, as it did where the window was
    // designed, not only on its mark and caption.
    QRect subElementRect(SubElement element, const QStyleOption* option,
                         const QWidget* widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget = nullptr) const override;
};

} // namespace qx::panel
