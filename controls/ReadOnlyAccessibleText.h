// SPDX-License-Identifier: GPL-3.0-or-later
// The text a screen reader reads from a control that shows a text it cannot edit: no caret, no
// selection, the whole text in one run without attributes. A control's interface derives from
// this beside QAccessibleWidget and says which text.
#pragma once

#include <QAccessible>
#include <QRect>
#include <QString>

#include <algorithm>

namespace qx {

class ReadOnlyAccessibleText : public QAccessibleTextInterface {
public:
    virtual QString readOnlyText() const = 0;

    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        const QString all = readOnlyText();
        const auto size = static_cast<int>(all.size());
        start = std::clamp(start, 0, size);
        // -1 is the end of the text.
        end = end < 0 ? size : std::clamp(end, start, size);
        return all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(readOnlyText().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
};

} // namespace qx
