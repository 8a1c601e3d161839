// SPDX-License-Identifier: GPL-3.0-or-later
// Where the demo finds the sample update package it offers in the update window's open dialog:
// beside the demo program (the build copies it there), else in the source tree it was built
// from.
#pragma once

#include <QString>
#include <QStringList>

namespace qx {

inline constexpr const char* kDemoPackageName = "QX-77ZT-demo.orbu";

// The first of `folders` that holds the sample package, as the package's path; empty when none
// does.
QString findDemoPackage(const QStringList& folders);

// The folders the demo program looks in, in that order.
QStringList demoPackageFolders();

} // namespace qx
