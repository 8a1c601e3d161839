// SPDX-License-Identifier: GPL-3.0-or-later
// The demo program's windows say so in their titles, so that beside the real program nobody
// takes one for the other. The real program's titles are left as they are.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace qx {

// `title` marked as the demo's: " (demo)" added once; an empty title stays empty.
QString demoTitle(const QString& title);

// Marks the title of every window of the application as the demo's when it is shown and
// whenever it changes afterwards; popups and tooltips have no title and are left alone.
// Watches while it lives.
class DemoTitles : public QObject {
    Q_OBJECT
public:
    explicit DemoTitles(QObject* parent = nullptr);
    ~DemoTitles() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void mark(QWidget* window);
};

} // namespace qx
