// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/events/ChangeWatcher.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>

namespace hid {

bool ChangeWatcher::canWatchHere() {
    return QAbstractEventDispatcher::instance() != nullptr;
}

ChangeWatcher::ChangeWatcher(int fd, std::function<int()> drain, std::function<void()> onChange)
    : notifier_(new QSocketNotifier(fd, QSocketNotifier::Read)) {
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_,
                     [drain = std::move(drain), onChange = std::move(onChange)] {
                         for (int n = drain(); n > 0; --n)
                             onChange();
                     });
}

ChangeWatcher::~ChangeWatcher() {
    // The connection runs this module's code: cut it before the code can go away.
    QObject::disconnect(notifier_, nullptr, nullptr, nullptr);
    if (notifier_->thread() == QThread::currentThread())
        delete notifier_;
    else
        notifier_->deleteLater();
}

} // namespace hid
