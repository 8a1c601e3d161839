// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual unit behind a USB HID gadget, for the real-kernel tests:
//
//   qx_gadget_unit --gadget tools/vm/gadget.sh --memory-dir DIR [--hidg /dev/hidg0]
//                  [--levels steady|programme|silence]
//
// Answers on the gadget's report node the way the unit does, with steady levels (0 and -2 steps)
// so that a test can check them, or with levels that move as programme material does, so that
// each answer changes what the host shows, or with silence (no bar on either meter). It restarts in
// boot mode on SIGUSR1 and in normal mode on SIGUSR2 or on the host's "leave update" request, each
// time by renaming the gadget's product. SIGHUP saves flash.bin, eeprom.bin, settings.bin,
// requests.txt (the frames received, by command) and answers.txt (when the latest answers went out,
// nanoseconds since the epoch) into DIR; SIGTERM saves them and ends.
#include "unit/gadget/GadgetSystem.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include <fcntl.h>

int main(int argc, char** argv) {
    using namespace qx;
    // Blocked before anything else, so a request sent early waits instead of killing the process.
    const int controlFd = gadget::openControlSignals();
    std::string gadgetScript, memoryDir, hidg = "/dev/hidg0", levels = "steady";
    std::map<std::string, std::string*> options{{"--gadget", &gadgetScript},
                                                {"--memory-dir", &memoryDir},
                                                {"--hidg", &hidg},
                                                {"--levels", &levels}};
    bool usage = argc % 2 != 1;
    for (int i = 1; !usage && i + 1 < argc; i += 2) {
        const auto it = options.find(argv[i]);
        usage = it == options.end();
        if (!usage) {
            *it->second = argv[i + 1];
        }
    }
    if (usage || gadgetScript.empty() || memoryDir.empty() ||
        (levels != "steady" && levels != "programme" && levels != "silence")) {
        std::fprintf(stderr, "usage: qx_gadget_unit --gadget PATH --memory-dir DIR "
                             "[--hidg NODE] [--levels steady|programme|silence]\n");
        return 2;
    }
    if (controlFd < 0) {
        std::perror("qx_gadget_unit: signalfd");
        return 1;
    }

    unit::VirtualUnit unit;
    unit.setLevelPattern(levels == "steady"    ? unit::LevelPattern::SteadyTone
                         : levels == "silence" ? unit::LevelPattern::Silence
                                               : unit::LevelPattern::Programme);
    gadget::AnswerTimes answerTimes;
    gadget::GadgetHooks hooks;
    hooks.openWire = [&] { return ::open(hidg.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC); };
    hooks.rename = [&](const std::string& product) {
        return gadget::runProgram({gadgetScript, "rename", product}) == 0;
    };
    hooks.dump = [&](const unit::VirtualUnit& u) {
        return gadget::dumpMemories(u, memoryDir) &&
               answerTimes.write(std::filesystem::path(memoryDir) / "answers.txt");
    };
    hooks.answerWritten = [&] { answerTimes.note(); };
    hooks.takeControl = gadget::takeSignal;
    hooks.say = [](const std::string& line) {
        std::fprintf(stderr, "gadget unit: %s\n", line.c_str());
    };
    gadget::GadgetLoop loop(unit, std::move(hooks), controlFd);
    return loop.run();
}
