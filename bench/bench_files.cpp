// Resolving, comparing and verifying what a large setup did to files: an
// event stream of n notifications (files in folders, some folders new, with
// renames, deletions and repeats) against the matching files on disk.
// Prints "resolve n=N seconds=T peak_mb=M" for 1k, 10k and 100k events;
// the time covers ResolveRecordedChanges, CompareFiles and VerifyNewItems.
#include "actions/deaction.h"
#include "bench_util.h"
#include "common/paths.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "files/compare.h"
#include "files/verify.h"
#include "monitor/protocol.h"
#include "common/library.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Feed(uint32_t dwOp, const std::string& path, const std::string& newPath = "") {
    MONITOR_RECORD record{};
    record.dwOperation = dwOp;
    lstrcpynA(record.szPath, path.c_str(), kMonitorPathChars);
    lstrcpynA(record.szPath2, newPath.c_str(), kMonitorPathChars);
    RecordFileChange(0, &record);
}

void Touch(const std::string& path) {
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
}

// Feeds the stream of a setup and, when asked, builds the disk state it
// left. Of the folders every other one is new; files go round the folders.
void MakeInstall(const std::string& root, long cEvents, bool fBuildDisk) {
    long cFolders = cEvents / 50 > 0 ? cEvents / 50 : 1;
    long cFiles = cEvents / 2;
    long cRenames = cEvents / 10;
    long cDeletions = cEvents / 10;
    if (fBuildDisk)
        CreateDirectoryA(root.c_str(), nullptr);
    std::vector<std::string> folders;
    for (long i = 0; i < cFolders; ++i) {
        folders.push_back(root + "\\Dir" + std::to_string(i));
        if (fBuildDisk)
            CreateDirectoryA(folders.back().c_str(), nullptr);
    }
    long cFed = 0;
    for (long i = 1; i < cFolders; i += 2, ++cFed)
        Feed(kOpFolderCreated, folders[static_cast<size_t>(i)]);
    std::vector<std::string> files;
    for (long i = 0; i < cFiles; ++i) {
        files.push_back(folders[static_cast<size_t>(i % cFolders)] + "\\File" + std::to_string(i) +
                        ".dat");
        Feed(kOpFileCreated, files.back());
    }
    cFed += cFiles;
    for (long i = 0; i < cRenames; ++i) {
        std::string& file = files[static_cast<size_t>(i * 3 % cFiles)];
        std::string renamed = file + ".new";
        Feed(kOpRenamed, file, renamed);
        file = renamed;
    }
    cFed += cRenames;
    std::vector<bool> deleted(static_cast<size_t>(cFiles), false);
    for (long i = 0; i < cDeletions; ++i) {
        size_t iFile = static_cast<size_t>((i * 5 + 1) % cFiles);
        if (deleted[iFile])
            continue;
        deleted[iFile] = true;
        Feed(kOpFileDeleted, files[iFile]);
        ++cFed;
    }
    // The rest are repeats, as a monitor reports a file written twice.
    for (long i = 0; cFed < cEvents; ++i, ++cFed)
        Feed(kOpFileCreated, files[static_cast<size_t>(i % cFiles)]);
    for (size_t i = 0; fBuildDisk && i < files.size(); ++i) {
        if (!deleted[i])
            Touch(files[i]);
    }
}

void FreeSession() {
    FreeActionList();
    FreeRecordedChanges();
    FreeNameList(&NewFolders);
    FreeNameList(&NewFiles);
    FreeNameList(&Cautions);
}

} // namespace

int main() {
    hinstLib = GetModuleHandleA(nullptr);
    GetWindowsDirectoryA(WinDir, MAX_PATH);
    AddBackslash(WinDir);
    GetSystemDirectoryA(SysDir, MAX_PATH);
    AddBackslash(SysDir);
    CreateDirectoryA("C:\\trun95-bench", nullptr);
    for (long cEvents : {1000L, 10000L, 100000L}) {
        std::string root = "C:\\trun95-bench\\files" + std::to_string(cEvents);
        RemoveTree(root);
        // The median of five runs over the same disk state: the machine is
        // shared, and a run of a few milliseconds can come out several
        // times faster or slower than its neighbours.
        struct Run {
            double seconds, resolve, compare;
        };
        std::vector<Run> runs;
        long cOffered = 0;
        for (int iRun = 0; iRun < 5; ++iRun) {
            MakeInstall(root, cEvents, iRun == 0);
            Stopwatch watch;
            ResolveRecordedChanges();
            double dResolved = watch.Seconds();
            CompareFiles();
            double dCompared = watch.Seconds();
            VerifyNewItems();
            runs.push_back({watch.Seconds(), dResolved, dCompared - dResolved});
            cOffered = 0;
            for (DEACTION* pact = pActionList; pact; pact = pact->pNext)
                cOffered += pact->fDone ? 0 : 1;
            FreeSession();
        }
        std::sort(runs.begin(), runs.end(),
                  [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
        const Run& median = runs[runs.size() / 2];
        char szExtra[128];
        std::snprintf(szExtra, sizeof szExtra, "actions=%ld resolve_s=%.3f compare_s=%.3f",
                      cOffered, median.resolve, median.compare);
        PrintBenchLine("resolve", cEvents, median.seconds, szExtra);
        RemoveTree(root);
    }
    RemoveDirectoryA("C:\\trun95-bench");
    return 0;
}
