// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DemoTitles.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace qx {

namespace {
const QString kDemoMark = QStringLiteral(" (demo)");
} // namespace

QString demoTitle(const QString& title) {
    if (title.isEmpty() || title.endsWith(kDemoMark)) {
        return title;
    }
    return title + kDemoMark;
}

DemoTitles::DemoTitles(QObject* parent) : QObject(parent) {
    qApp->installEventFilter(this);
    // Windows already shown are marked now; the others when they are shown.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible()) {
            mark(w);
        }
    }
}

DemoTitles::~DemoTitles() {
    qApp->removeEventFilter(this);
}

bool DemoTitles::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::WindowTitleChange) && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow() && (type == QEvent::Show || w->isVisible())) {
            mark(w);
        }
    }
    return QObject::eventFilter(watched, event);
}

void DemoTitles::mark(QWidget* window) {
    const Qt::WindowType kind = window->windowType();
    if (kind != Qt::Window && kind != Qt::Dialog && kind != Qt::Sheet && kind != Qt::Tool) {
        return;
    }
    const QString marked = demoTitle(window->windowTitle());
    // Setting it raises another title change, which then finds the mark in place.
    if (marked != window->windowTitle()) {
        window->setWindowTitle(marked);
    }
}

} // namespace qx
