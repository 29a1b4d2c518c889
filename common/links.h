// Symbolic links and junctions: recognised and removed as themselves, never
// through what they lead to.
#pragma once

#include <windows.h>

#include <string>

// Whether the object at the path is a link. Windows marks links as reparse
// points; Wine shows a link to a file as the file itself, so there the host
// file system is asked.
bool IsLinkItself(const char* pszPath, DWORD dwAttributes);

// Removes the link, leaving what it leads to untouched; false when it cannot
// (then nothing else is tried).
bool RemoveLinkItself(const char* pszPath, DWORD dwAttributes);

// The host path of a path where Wine maps drives onto host folders; empty
// elsewhere.
std::string HostPathOf(const wchar_t* pszPath);
std::string HostPathOf(const char* pszPath);

// File system calls made straight to Linux where Wine runs on it, for what
// Wine offers no call for. They never follow a link at the last name.
enum class HostCall { RemoveName, ReadLink, MakeLink };
bool HostCallsAvailable();
// The call's result (negative: an error or no Linux host). MakeLink takes the
// target first and the new link second; ReadLink only looks.
long CallHost(HostCall call, const std::string& first, const std::string& second = {});
