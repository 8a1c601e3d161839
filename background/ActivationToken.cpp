// SPDX-License-Identifier: GPL-3.0-or-later
#include "background/ActivationToken.h"

#include <QGuiApplication>

namespace qx::background {

Q_LOGGING_CATEGORY(lcBackground, "qx.background", QtWarningMsg)

void useActivationToken(const QString& activationToken, const QString& startupId) {
    qCDebug(lcBackground, "show request: activation token \"%s\", startup id \"%s\"",
            qPrintable(activationToken), qPrintable(startupId));
    if (activationToken.isEmpty()) {
        // A token of our own start, unused, must not stand for this request.
        qunsetenv("XDG_ACTIVATION_TOKEN");
        return;
    }
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    }
}

} // namespace qx::background
