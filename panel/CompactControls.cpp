// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/CompactControls.h"

#include <QApplication>
#include <QStyleFactory>
#include <QStyleOption>

#include <algorithm>

namespace qx::panel {

// A style of its own underneath: the proxy owns its base, and the application's must stay the
// application's.
CompactControls::CompactControls()
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

int CompactControls::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                 const QWidget* widget) const {
    const int base = QProxyStyle::pixelMetric(metric, option, widget);
    if (metric == PM_RadioButtonLabelSpacing) {
        return std::min(base, kRadioSpacing);
    }
    return base;
}

QRect CompactControls::subElementRect(SubElement element, const QStyleOption* option,
                                      const QWidget* widget) const {
    if (element == SE_RadioButtonClickRect) {
        return option->rect;
    }
    return QProxyStyle::subElementRect(element, option, widget);
}

QRect CompactControls::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                      SubControl sub, const QWidget* widget) const {
    QRect r = QProxyStyle::subControlRect(control, option, sub, widget);
    if (control != CC_ComboBox || r.isEmpty()) {
        return r;
    }
    const bool rightToLeft = option->direction == Qt::RightToLeft;
    if (sub == SC_ComboBoxArrow) {
        rightToLeft ? r.setRight(r.right() - kArrowNarrowing)
                    : r.setLeft(r.left() + kArrowNarrowing);
    } else if (sub == SC_ComboBoxEditField) {
        rightToLeft ? r.setLeft(r.left() - kArrowNarrowing)
                    : r.setRight(r.right() + kArrowNarrowing);
    }
    return r;
}

} // namespace qx::panel
