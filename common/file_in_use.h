// Whether a file is held by another process or loaded as a module here.
#pragma once

// 1 when the file cannot be opened exclusively or is this process's module.
int IsFileInUse(const char* pszPath);
