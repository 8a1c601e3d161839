// SPDX-License-Identifier: GPL-3.0-or-later
// Where the demo finds the sample package its update window offers.
#include "app/DemoPackage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(DemoPackage, FirstFolderThatHoldsIt) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir dir(root.path());
    for (const char* sub : {"empty", "beside", "tree", "named-like-it"}) {
        ASSERT_TRUE(dir.mkpath(QLatin1String(sub)));
    }
    for (const char* holder : {"beside", "tree"}) {
        QFile f(dir.filePath(QLatin1String(holder) + QLatin1Char('/') +
                             QLatin1String(kDemoPackageName)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    // A folder that only carries the package's name is no package.
    ASSERT_TRUE(dir.mkpath(QStringLiteral("named-like-it/") + QLatin1String(kDemoPackageName)));
    const auto at = [&](const char* sub) { return dir.filePath(QLatin1String(sub)); };
    const auto package = [&](const char* sub) {
        return at(sub) + QLatin1Char('/') + QLatin1String(kDemoPackageName);
    };
    struct Row {
        const char* name;
        QStringList folders;
        QString found;
    };
    const Row rows[] = {
        {"beside the program", {at("beside"), at("tree")}, package("beside")},
        {"else the source tree", {at("missing"), at("empty"), at("tree")}, package("tree")},
        {"a folder of that name", {at("named-like-it"), at("tree")}, package("tree")},
        {"nowhere", {at("missing"), at("empty")}, QString()},
        {"no folders", {}, QString()},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(findDemoPackage(r.folders), r.found) << r.name;
    }
    EXPECT_TRUE(demoPackageFolders().first().endsWith(QStringLiteral("/samples")));
}

} // namespace
} // namespace qx
