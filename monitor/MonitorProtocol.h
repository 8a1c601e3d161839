// SPDX-License-Identifier: GPL-3.0-or-later
// How the window program asks the monitor for the units, over the monitor's local endpoint in the
// user's runtime folder (where qx77zt's requests arrive too, framed as the window program takes
// them). The window sends kReleaseRequest and keeps the connection open for as long as it runs;
// the monitor answers kReleasing at once and kReleased once it has let go of every unit and of
// the unit lock, and takes the units back when the connection closes.
#pragma once

#include <QByteArray>

namespace qx::monitor {

// The endpoint's names: the monitor over the units, and the demo's monitor over its virtual
// units (which the demo window program asks).
inline constexpr const char* kMonitorInstanceKey = "qx77zt-monitor";
inline constexpr const char* kDemoMonitorInstanceKey = "qx77zt-monitor-demo";

inline const QByteArray kReleaseRequest = QByteArrayLiteral("release\n");
inline const QByteArray kReleasing = QByteArrayLiteral("releasing\n");
inline const QByteArray kReleased = QByteArrayLiteral("released\n");

} // namespace qx::monitor
