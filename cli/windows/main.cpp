// qx77zt on Windows: the same commands, driving the unit through a link of its own. There is no
// window program to hand a command to, and no Qt: the carried library is a resource of the
// executable and is loaded from the user's own folder.
#include "cli/CliMain.h"
#include "link/EmbeddedImage.h"
#include "state/StateFiles.h"
#include "state/UpdateJournal.h"
#include "state/windows/Utf8Path.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include <io.h>
#include <shellapi.h>

namespace {

class StandardOutput : public qx::cli::CliOutput {
public:
    void write(bool error, std::string_view text) override {
        std::FILE* stream = error ? stderr : stdout;
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    }
    bool terminal() const override { return ::_isatty(::_fileno(stdout)) != 0; }
};

// ^C, ^Break or the console closing ends a --watch cleanly; a transfer under way is finished
// first. The handler runs on a thread the system makes for it and only sets the stop; a second
// ^C ends the process at once.
std::stop_source stopSource;
std::atomic<bool> stopAsked{false};

BOOL WINAPI onConsoleControl(DWORD event) {
    if (stopAsked.exchange(true)) {
        std::_Exit(128 + 2);
    }
    stopSource.request_stop();
    // Closing the console gives the process a few seconds after the handler returns; the
    // command sees the stop and ends within them.
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

// The arguments as UTF-8, whatever the console's code page.
std::vector<std::string> utf8Arguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return args;
    }
    for (int i = 1; i < count; ++i) {
        args.push_back(qx::utf8Text(std::filesystem::path(wide[i])));
    }
    LocalFree(wide);
    return args;
}

} // namespace

int main() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    SetConsoleOutputCP(CP_UTF8);

    qx::cli::CliEnvironment env;
    env.image = &qx::embeddedHidImage;
    if (const auto folder = qx::state::stateFolderFromEnvironment(); !folder.empty()) {
        env.journalFile = qx::utf8Text(folder / qx::state::kJournalFileName);
    }
    StandardOutput out;
    return qx::cli::runCli(utf8Arguments(), env, out, stopSource.get_token());
}
