// Removing links as themselves. On Windows the ordinary deletions act on a
// link itself. Wine 8 has no call that does: every deletion there reaches the
// object behind a link, so under Wine on Linux links are removed with the
// host's own unlink, which never follows the last name.
#include "common/links.h"

#include <cstdint>
#include <cstring>

namespace {

typedef char*(CDECL* PFNUNIXFILENAME)(LPCWSTR pszDosName);
typedef void(CDECL* PFNHOSTVERSION)(const char** ppszSystem, const char** ppszRelease);

template <typename Function> Function WineExport(const char* pszModule, const char* pszName) {
    HMODULE hModule = GetModuleHandleA(pszModule);
    if (!hModule)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
}

bool IsWine() {
    static const bool fWine =
        WineExport<PFNUNIXFILENAME>("kernel32", "wine_get_unix_file_name") != nullptr;
    return fWine;
}

bool IsLinuxHost() {
    auto pfnHostVersion = WineExport<PFNHOSTVERSION>("ntdll", "wine_get_host_version");
    if (!pfnHostVersion)
        return false;
    const char* pszSystem = nullptr;
    const char* pszRelease = nullptr;
    pfnHostVersion(&pszSystem, &pszRelease);
    return pszSystem && std::strcmp(pszSystem, "Linux") == 0;
}

// Linux numbers the calls differently for 64-bit and 32-bit programs.
intptr_t CallNumber(HostCall call) {
#if defined(__x86_64__)
    constexpr intptr_t kNumbers[] = {87, 89, 88}; // unlink, readlink, symlink
#else
    constexpr intptr_t kNumbers[] = {10, 85, 83};
#endif
    return kNumbers[static_cast<int>(call)];
}

// Register-wide arguments: Windows' long is narrower than the registers.
intptr_t LinuxCall(intptr_t number, const void* pFirst, const void* pSecond, intptr_t third) {
    intptr_t result;
#if defined(__x86_64__)
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(pFirst), "S"(pSecond), "d"(third)
                 : "rcx", "r11", "memory");
#elif defined(__i386__)
    asm volatile("int $0x80"
                 : "=a"(result)
                 : "a"(number), "b"(pFirst), "c"(pSecond), "d"(third)
                 : "memory");
#else
#error "Links are removed through the host only on x86 processors"
#endif
    return result;
}

// A link under Wine: the host file system says so without following it.
bool IsHostLink(const char* pszPath) {
    std::string hostPath = HostPathOf(pszPath);
    return !hostPath.empty() && CallHost(HostCall::ReadLink, hostPath) >= 0;
}

} // namespace

std::string HostPathOf(const wchar_t* pszPath) {
    auto pfnUnixName = WineExport<PFNUNIXFILENAME>("kernel32", "wine_get_unix_file_name");
    char* pszHost = pfnUnixName ? pfnUnixName(pszPath) : nullptr;
    if (!pszHost)
        return {};
    std::string hostPath = pszHost;
    HeapFree(GetProcessHeap(), 0, pszHost);
    // A trailing slash would make the host look through a link.
    while (hostPath.size() > 1 && hostPath.back() == '/')
        hostPath.pop_back();
    return hostPath;
}

std::string HostPathOf(const char* pszPath) {
    int cch = MultiByteToWideChar(CP_ACP, 0, pszPath, -1, nullptr, 0);
    if (cch <= 0)
        return {};
    std::wstring widePath(cch, L'\0');
    MultiByteToWideChar(CP_ACP, 0, pszPath, -1, widePath.data(), cch);
    return HostPathOf(widePath.c_str());
}

bool HostCallsAvailable() {
    static const bool fAvailable = IsWine() && IsLinuxHost();
    return fAvailable;
}

long CallHost(HostCall call, const std::string& first, const std::string& second) {
    if (!HostCallsAvailable())
        return -1;
    char szTarget[1];
    intptr_t result = -1;
    switch (call) {
    case HostCall::RemoveName:
        result = LinuxCall(CallNumber(call), first.c_str(), nullptr, 0);
        break;
    case HostCall::ReadLink:
        result = LinuxCall(CallNumber(call), first.c_str(), szTarget, sizeof szTarget);
        break;
    case HostCall::MakeLink:
        result = LinuxCall(CallNumber(call), first.c_str(), second.c_str(), 0);
        break;
    }
    return static_cast<long>(result);
}

bool IsLinkItself(const char* pszPath, DWORD dwAttributes) {
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    return IsWine() && IsHostLink(pszPath);
}

bool RemoveLinkItself(const char* pszPath, DWORD dwAttributes) {
    if (IsWine()) {
        // Every Wine deletion goes through the link; only the host can help.
        std::string hostPath = HostPathOf(pszPath);
        return !hostPath.empty() && CallHost(HostCall::ReadLink, hostPath) >= 0 &&
               CallHost(HostCall::RemoveName, hostPath) == 0;
    }
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return RemoveDirectoryA(pszPath) != FALSE;
    return DeleteFileA(pszPath) != FALSE;
}
