// The job object that counts every process setup or an own uninstaller starts.
#include "host/process_job.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

std::vector<DWORD> JobProcessIds(HANDLE hJob) {
    // Room for far more processes than a setup starts at once.
    constexpr DWORD kMaxIds = 256;
    std::vector<BYTE> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + kMaxIds * sizeof(ULONG_PTR));
    auto* pList = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    std::vector<DWORD> ids;
    if (!QueryInformationJobObject(hJob, JobObjectBasicProcessIdList, pList,
                                   static_cast<DWORD>(buffer.size()), nullptr) &&
        GetLastError() != ERROR_MORE_DATA)
        return ids;
    for (DWORD i = 0; i < pList->NumberOfProcessIdsInList && i < kMaxIds; ++i)
        ids.push_back(static_cast<DWORD>(pList->ProcessIdList[i]));
    return ids;
}

} // namespace

std::vector<std::string> ProcessImageNames(const std::vector<DWORD>& ids) {
    std::vector<std::string> images(ids.size());
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return images;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL fMore = Process32First(hSnapshot, &entry); fMore;
         fMore = Process32Next(hSnapshot, &entry)) {
        for (size_t i = 0; i < ids.size(); ++i)
            if (ids[i] == entry.th32ProcessID)
                images[i] = entry.szExeFile;
    }
    CloseHandle(hSnapshot);
    return images;
}

bool IsSystemServiceImage(const char* pszExeName) {
    static const char* const apszServices[] = {
        "explorer.exe", "services.exe", "winedevice.exe",      "plugplay.exe",
        "svchost.exe",  "rpcss.exe",    "winemenubuilder.exe", "conhost.exe"};
    const char* pszBase = pszExeName;
    for (const char* psz = pszExeName; *psz; ++psz)
        if (*psz == '\\' || *psz == '/')
            pszBase = psz + 1;
    for (const char* pszService : apszServices)
        if (lstrcmpiA(pszBase, pszService) == 0)
            return true;
    return false;
}

ProcessJob::~ProcessJob() {
    if (hJob_)
        CloseHandle(hJob_);
}

bool ProcessJob::Enter() {
    hJob_ = CreateJobObjectA(nullptr, nullptr);
    return hJob_ && AssignProcessToJobObject(hJob_, GetCurrentProcess());
}

std::vector<DWORD> ProcessJob::OtherProcessIds() const {
    std::vector<DWORD> others;
    if (!hJob_)
        return others;
    std::vector<DWORD> ids = JobProcessIds(hJob_);
    std::erase(ids, GetCurrentProcessId());
    std::vector<std::string> images = ProcessImageNames(ids);
    for (size_t i = 0; i < ids.size(); ++i)
        if (!IsSystemServiceImage(images[i].c_str()))
            others.push_back(ids[i]);
    return others;
}

void ProcessJob::EndOtherProcesses() const {
    for (DWORD dwProcess : OtherProcessIds()) {
        HANDLE hProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwProcess);
        if (!hProcess)
            continue;
        TerminateProcess(hProcess, 1);
        WaitForSingleObject(hProcess, 5000);
        CloseHandle(hProcess);
    }
}
