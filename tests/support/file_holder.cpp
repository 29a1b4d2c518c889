// Starting and ending the helper process that holds a file open.
#include "file_holder.h"

#include <gtest/gtest.h>

#include "test_host_window.h"

FileHolder::FileHolder(const std::string& path) {
    // The holder keeps the file until it is ended; starting a Wine process can take
    // many seconds on a loaded machine, so wait for the hold as long as the process lives.
    std::string commandLine = BuildPath("trun95_probe.exe") + " hold-file \"" + path + "\" 600000";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
        ADD_FAILURE() << "could not start the file holder for " << path;
        return;
    }
    CloseHandle(process_.hThread);
    for (int i = 0; i < 2400; ++i) {
        // Held once an exclusive open fails.
        HFILE hFile = _lopen(path.c_str(), OF_READ | OF_SHARE_EXCLUSIVE);
        if (hFile == HFILE_ERROR)
            return;
        _lclose(hFile);
        if (WaitForSingleObject(process_.hProcess, 25) == WAIT_OBJECT_0)
            break;
    }
    ADD_FAILURE() << "the file holder never held " << path;
}

FileHolder::~FileHolder() {
    if (process_.hProcess) {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 10000);
        CloseHandle(process_.hProcess);
    }
}
