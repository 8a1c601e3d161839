// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/QuitOnSignal.h"

#include <QPointer>

namespace qx {

void QuitOnSignal::deliver(const std::vector<int>& numbers) {
    // A receiver may end this object's life.
    const QPointer<QuitOnSignal> self(this);
    for (const int number : numbers) {
        if (!self) {
            return;
        }
        emit received(number);
    }
}

} // namespace qx
