// SPDX-License-Identifier: GPL-3.0-or-later
// Answers the windows' questions from a script and keeps what they showed.
#pragma once

#include "update/Dialogs.h"

#include <deque>
#include <functional>
#include <vector>

namespace qx::test {

class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        Icon icon;
        QString caption;
        QString text;
        QMessageBox::StandardButtons buttons;
    };
    struct Asked {
        QString initialName;
        QString filter;
    };

    // Answers given in turn; Ok once they run out.
    std::deque<QMessageBox::StandardButton> answers;
    QString nextSaveName;
    QString nextOpenName;
    std::vector<Shown> shown;
    std::vector<Asked> saveAsked;
    std::vector<Asked> openAsked;
    // Runs while a message is up, before it is answered.
    std::function<void(const Shown&)> onShown;

    QMessageBox::StandardButton message(QWidget*, Icon icon, const QString& caption,
                                        const QString& text,
                                        QMessageBox::StandardButtons buttons) override {
        shown.push_back({icon, caption, text, buttons});
        if (onShown) {
            onShown(shown.back());
        }
        if (answers.empty()) {
            return QMessageBox::Ok;
        }
        const auto a = answers.front();
        answers.pop_front();
        return a;
    }
    QString openFileName(QWidget*, const QString& initialName, const QString& filter) override {
        openAsked.push_back({initialName, filter});
        return nextOpenName;
    }
    QString saveFileName(QWidget*, const QString& initialName, const QString& filter) override {
        saveAsked.push_back({initialName, filter});
        return nextSaveName;
    }
};

} // namespace qx::test
