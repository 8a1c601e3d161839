// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgramState.h"

#include "panel/umain.h"
#include "state/StateFiles.h"
#include "update/uu.h"

#include <QTimer>

namespace qx {

namespace {

std::filesystem::path fileIn(const std::filesystem::path& folder, const char* name) {
    return folder.empty() ? std::filesystem::path() : folder / name;
}

} // namespace

ProgramState::ProgramState(bool demo, LinkState& link, Tfmain& mainWindow, Tfu& updateWindow,
                           Dialogs& dialogs)
    : journal_(
          fileIn(state::stateFolderFromEnvironment(demo ? "qx77zt-demo" : state::kProgramFolder),
                 state::kJournalFileName)),
      memory_(fileIn(journal_.file().parent_path(), state::kSettingsFileName)),
      restore_(link, memory_, &journal_, dialogs, &mainWindow,
               [&updateWindow] { return updateWindow.deviceSerial().toStdString(); }) {
    QStringList trouble;
    for (const std::string& message : {journal_.load(), memory_.load()}) {
        if (!message.empty()) {
            trouble << QString::fromStdString(message);
        }
    }
    if (journal_.file().empty()) {
        trouble << QStringLiteral("No state folder can be found (neither XDG_STATE_HOME nor HOME "
                                  "is set): updates are not journalled across runs.");
    }
    updateWindow.setStateStore(&journal_, &memory_);

    // Each stored answer, once the window shows it.
    QObject::connect(&mainWindow, &Tfmain::answerShown, &restore_,
                     [this] { restore_.answerStored(); });
    // Opened once the scan that found the unit has finished, never from inside it.
    QObject::connect(
        &updateWindow, &Tfu::recoveryOffered, &mainWindow,
        [&mainWindow, &updateWindow] {
            if (mainWindow.isVisible() && !updateWindow.isVisible()) {
                mainWindow.UPDClick();
            }
        },
        Qt::QueuedConnection);
    if (!trouble.isEmpty()) {
        QTimer::singleShot(0, &mainWindow, [&mainWindow, &dialogs, trouble] {
            dialogs.message(&mainWindow, Dialogs::Icon::Warning, QStringLiteral("QX-77ZT"),
                            trouble.join(QStringLiteral("\n\n")), QMessageBox::Ok);
        });
    }
}

} // namespace qx
