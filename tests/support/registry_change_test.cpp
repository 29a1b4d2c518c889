#include "registry_change_test.h"

#include "actions/deaction.h"
#include "test_registry.h"

RegistryChangeTest::RegistryChangeTest(const std::string& markerName)
    : marker(markerName), roots{{HKEY_CLASSES_ROOT, marker, "Hkey_classes_root\\" + marker},
                                {HKEY_LOCAL_MACHINE, "Software\\" + marker,
                                 "Hkey_local_machine\\Software\\" + marker},
                                {HKEY_CURRENT_USER, "Software\\" + marker,
                                 "Hkey_current_user\\Software\\" + marker},
                                {HKEY_USERS, ".Default\\Software\\" + marker,
                                 "Hkey_users\\.Default\\Software\\" + marker}} {}

void RegistryChangeTest::SetUp() {
    HostedTest::SetUp();
    LoadRegistryStrings();
    FreeActionList();
    RemoveMarkerKeys();
}

void RegistryChangeTest::TearDown() {
    FreeActionList();
    FreeRegistrySnapshot(&pBefore);
    FreeRegistrySnapshot(&pAfter);
    RemoveMarkerKeys();
    HostedTest::TearDown();
}

void RegistryChangeTest::RemoveMarkerKeys() {
    for (const TestRoot& root : roots)
        RemoveTestKey(root.hRoot, root.path);
}

void RegistryChangeTest::Before() {
    TakeRegistrySnapshot(&pBefore, host.status());
}

std::vector<std::string> RegistryChangeTest::AfterAndCompare() {
    TakeRegistrySnapshot(&pAfter, host.status());
    CompareRegistrySnapshots(&pBefore, &pAfter, OnRegValueChange, OnRegKeyChange);
    return RegistryActionTexts(marker);
}
