// Turns the signals a desktop session or a terminal sends to end a program (SIGTERM at logout or
// shutdown, SIGINT, SIGHUP) into a Qt signal on the user interface thread, so the program can
// close its windows and leave its event loop as when the operator closes it, instead of being
// cut off in the middle of its threads.
//
// The handler only writes the signal's number into a pipe that a QSocketNotifier watches. The
// pipe is the process's own and stays open to its end, so a signal that comes late never writes
// to a descriptor that has since been reused.
#pragma once

#include <QObject>

#include <csignal>
#include <vector>

class QSocketNotifier;

namespace qx {

class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    // Catches SIGTERM, SIGINT and SIGHUP, except one that the program was started with ignored
    // (nohup, a background job of a shell): that one stays ignored. One object at a time.
    explicit QuitOnSignal(QObject* parent = nullptr);
    // Gives each signal back the handling it had before.
    ~QuitOnSignal() override;

    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

signals:
    // One of the caught signals arrived (emitted on this object's thread, once per arrival).
    void received(int signal);

private:
    void drain();

    struct Previous {
        int signal;
        struct sigaction action;
    };
    std::vector<Previous> previous_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace qx
