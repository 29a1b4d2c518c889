// A file's creation, access and write times carried over to another file.
#pragma once

// Gives the target the source's times; a failure to read or write them is an
// internal error.
int CopyFileTimes(const char* pszTarget, const char* pszSource);
