#include "file_holder.h"

#include "host_window.h"

FileHolder::FileHolder(const std::string& path) {
    std::string commandLine = BuildPath("trun95_probe.exe") + " hold-file \"" + path + "\" 8000";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process_))
        CloseHandle(process_.hThread);
    for (int i = 0; i < 200; ++i) {
        HFILE hFile = _lopen(path.c_str(), OF_READ | OF_SHARE_EXCLUSIVE);
        if (hFile == HFILE_ERROR)
            return;
        _lclose(hFile);
        Sleep(25);
    }
}

FileHolder::~FileHolder() {
    if (process_.hProcess) {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 10000);
        CloseHandle(process_.hProcess);
    }
}
