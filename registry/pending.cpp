// Placeholder registry steps, filled by the registry work.
#include "registry/registry.h"

REGTRE* RegBefore;
REGTRE* RegAfter;

void LoadRegistryStrings() {}
void TakeRegistrySnapshot(REGTRE**, HWND) {}
void TakeSoftwareSnapshot(REGTRE**, HWND) {}
void FreeRegistrySnapshot(REGTRE** ppSnapshot) {
    *ppSnapshot = nullptr;
}
void CompareRegistrySnapshots(REGTRE**, REGTRE**, PFNREGCHANGE, PFNREGCHANGE) {}
int OnRegValueChange(const char*, const char*, DWORD, RTREE*) {
    return 0;
}
int OnRegKeyChange(const char*, const char*, DWORD, RTREE*) {
    return 0;
}
int DetectSystemUninstaller(REGTRE**, REGTRE**) {
    return 0;
}
int SetExplorerUnload(int) {
    return 0;
}
int AcceptRegistryAction(DEACTION*) {
    return 1;
}
int DoRegistryAction(DEACTION*) {
    return 1;
}
int DescribeRegistryAction(DEACTION*, char*) {
    return 1;
}
