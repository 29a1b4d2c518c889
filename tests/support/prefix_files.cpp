// Scratch folders, files and links inside the test prefix's drive C.
#include "prefix_files.h"

#include "common/links.h"

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

std::string TempFile(const char* pszName) {
    char szFolder[MAX_PATH];
    GetTempPathA(sizeof szFolder, szFolder);
    std::string path = std::string(szFolder) + pszName;
    DeleteFileA(path.c_str());
    return path;
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

bool MakeUnixLink(const std::string& target, const std::string& link) {
    return CallHost(HostCall::MakeLink, HostPathOf(target.c_str()), HostPathOf(link.c_str())) == 0;
}
