// SPDX-License-Identifier: GPL-3.0-or-later
// A library that says it was loaded: it sets the environment variable named by QX_MARKER in the
// process that loads it. Planted where no library of ours should be looked for.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        SetEnvironmentVariableW(QX_MARKER, L"1");
    return TRUE;
}
