#include "prefix_files.h"

#include <windows.h>

#include <fstream>
#include <sstream>

ScratchFolder::ScratchFolder(const std::string& name) : path_("C:\\trun95-tests\\" + name) {
    CreateDirectoryA("C:\\trun95-tests", nullptr);
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

void WriteTextFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
    DWORD dwAttributes = GetFileAttributesA(path.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(),
                       FILE_ATTRIBUTE_NORMAL | (dwAttributes & FILE_ATTRIBUTE_DIRECTORY));
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((path + "\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name != "." && name != "..")
                RemoveTree(path + "\\" + name);
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryA(path.c_str());
}

namespace {

// The Unix path of a path of the prefix, from Wine's own kernel32 export.
std::string UnixPath(const std::string& path) {
    auto pfnUnixName = reinterpret_cast<char*(CDECL*)(const WCHAR*)>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    char* pszUnix =
        pfnUnixName ? pfnUnixName(std::wstring(path.begin(), path.end()).c_str()) : nullptr;
    std::string unixPath = pszUnix ? pszUnix : "";
    HeapFree(GetProcessHeap(), 0, pszUnix);
    return unixPath;
}

// A Linux system call with two path arguments (87 unlink, 88 symlink).
long LinuxCall([[maybe_unused]] long lNumber, [[maybe_unused]] const std::string& first,
               [[maybe_unused]] const std::string& second = "") {
    long lResult = -1;
#if defined(__x86_64__)
    asm volatile("syscall"
                 : "=a"(lResult)
                 : "a"(lNumber), "D"(first.c_str()), "S"(second.c_str())
                 : "rcx", "r11", "memory");
#endif
    return lResult;
}

} // namespace

bool MakeUnixLink(const std::string& target, const std::string& link) {
    return LinuxCall(88, UnixPath(target), UnixPath(link)) == 0;
}

void RemoveUnixLink(const std::string& link) {
    LinuxCall(87, UnixPath(link));
}
