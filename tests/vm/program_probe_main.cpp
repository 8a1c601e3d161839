// SPDX-License-Identifier: GPL-3.0-or-later
// The window program itself (QX_77ZT, the same entry and embedded library), with one addition for
// the real-kernel lane's measurements: it notes when each paint of the main window's level meters
// has finished, and writes those times (nanoseconds since the epoch, the system's clock, one a
// line) to the file QX_VM_PAINT_TIMES names when it ends. The lane matches them with the times
// the gadget unit sent its answers: the time from a unit's answer to its meters drawn.
//
// The note is an application-wide event filter that lets every event through but the meters'
// paints, which it delivers itself to time their end: no timer, no thread, no wake-up of its own.
#include "app/ProgramMain.h"
#include "levels/LevelMeters.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

class PaintTimes : public QObject {
public:
    PaintTimes() { times_.reserve(1 << 16); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (delivering_ || event->type() != QEvent::Paint) {
            return false;
        }
        auto* bar = qobject_cast<qx::levels::MeterBar*>(watched);
        if (bar == nullptr || bar->window()->objectName() != QLatin1String("fmain")) {
            return false;
        }
        // Delivered here, past this filter, so that the time taken is when the bar is drawn.
        delivering_ = true;
        QCoreApplication::sendEvent(watched, event);
        delivering_ = false;
        if (times_.size() < times_.capacity()) {
            times_.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count());
        }
        return true;
    }

    void write() const {
        const char* file = std::getenv("QX_VM_PAINT_TIMES");
        if (file == nullptr || *file == '\0') {
            return;
        }
        if (FILE* out = std::fopen(file, "w")) {
            for (const std::int64_t t : times_) {
                std::fprintf(out, "%lld\n", static_cast<long long>(t));
            }
            std::fclose(out);
        }
    }

private:
    std::vector<std::int64_t> times_;
    bool delivering_ = false;
};

void installPaintTimes() {
    auto* times = new PaintTimes;
    times->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(times);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, times,
                     [times] { times->write(); });
}

} // namespace

// Runs as the application object is made, before the program makes its windows.
Q_COREAPP_STARTUP_FUNCTION(installPaintTimes)

int main(int argc, char** argv) {
    return qx::runProgram(argc, argv, {});
}
