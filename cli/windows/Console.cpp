// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/windows/Console.h"

#include "state/Utf8Path.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include <io.h>
#include <shellapi.h>

namespace qx::cli {

namespace {

// The handler runs on a thread the system makes for it and only sets the stop.
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

} // namespace

void ConsoleOutput::write(bool error, std::string_view text) {
    std::FILE* stream = error ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool ConsoleOutput::terminal() const {
    return ::_isatty(::_fileno(stdout)) != 0;
}

std::vector<std::string> utf8Arguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return args;
    }
    for (int i = 1; i < count; ++i) {
        args.push_back(utf8Text(std::filesystem::path(wide[i])));
    }
    LocalFree(wide);
    return args;
}

std::stop_token stopOnConsoleControl() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    return stopSource.get_token();
}

} // namespace qx::cli
