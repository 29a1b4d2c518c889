// A setup program run inside the prefix: what it did to Program Files, the
// Windows folder and its subfolders, the system folder, the Start Menu and
// the Desktop comes back as exactly the expected undo actions and cautions.
#include "actions/deaction.h"
#include "files/lists.h"
#include "support/setup_scenario.h"

namespace {

using FileScenarioTest = SetupScenarioTest;

TEST_F(FileScenarioTest, SetupChangesBecomeTheExpectedActionsAndCautionsAndAreUndone) {
    std::string systemIniBefore = ReadTextFile(windows + "\\system.ini");
    RunHandFed();
    ASSERT_NE(ReadTextFile(windows + "\\system.ini"), systemIniBefore);
    std::string common = programs + "\\Common Files\\";
    std::string systemIni = windows + "\\system.ini";
    auto quoted = [](const char* pszWhat, const std::string& path) {
        return std::string(pszWhat) + " \"" + path + "\"";
    };
    std::vector<ActionView> expected = {
        {DEA_GROUP, 1, "Acme", "Group \"Acme\""},
        {DEA_ICON, 2, "Acme Help", "Icon \"Acme Help\" in group \"Programs\""},
        {DEA_ICON, 2, "Acme", "Icon \"Acme\" in desktop folder (\"Desktop\")"},
        {DEA_RESTORE, 3, systemIni, quoted("Changes to", systemIni)},
        {DEA_FOLDER, 4, programs + "\\Acme\\", quoted("Folder", programs + "\\Acme\\")},
        {DEA_FOLDER, 4, programs + "\\Acme\\Data\\", quoted("Folder", programs + "\\Acme\\Data\\")},
        {DEA_FILE, 5, LowerText(windows + "\\acme.ini"),
         quoted("File", LowerText(windows + "\\acme.ini"))},
        {DEA_FILE, 5, LowerText(system + "\\acme32.dll"),
         quoted("File", LowerText(system + "\\acme32.dll"))},
        {DEA_FILE, 6, common + "acme-old.bak", quoted("File", common + "acme-old.bak")},
        {DEA_FILE, 6, common + "AcmeShared.dll", quoted("File", common + "AcmeShared.dll")},
        {DEA_FILE, 6, windows + "\\inf\\acme.inf", quoted("File", windows + "\\inf\\acme.inf")},
    };
    EXPECT_EQ(OfferedActions(), expected);
    EXPECT_EQ(ActiveNames(Cautions),
              (std::vector<std::string>{
                  quoted("File", LowerText(system + "\\acme-gone.dll")) + " was deleted",
                  quoted("File", LowerText(system + "\\acme-shared.dat")) + " was altered"}));
    // The temporary name of a renamed file and a file deleted again stay
    // listed as removed; a file directly in the Windows folder never enters.
    for (const std::string& path : {programs + "\\Acme\\setup.tmp", common + "scratch.tmp"}) {
        NAMEITEM* pItem = FindName(NewFiles, path.c_str());
        ASSERT_NE(pItem, nullptr) << path;
        EXPECT_EQ(pItem->bActive, 0) << path;
    }
    EXPECT_EQ(FindName(NewFiles, (windows + "\\acme.ini").c_str()), nullptr);

    // Undo removes the groups and icons and puts the altered INI file back.
    std::vector<std::string> removed;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->wKind == DEA_GROUP || pact->wKind == DEA_ICON || pact->wKind == DEA_RESTORE) {
            EXPECT_EQ(pact->pfnUndo(pact), 1) << pact->pszDescription;
            if (pact->wKind != DEA_RESTORE) {
                removed.push_back(static_cast<const char*>(pact->pExtra));
                EXPECT_FALSE(Exists(removed.back()));
            }
        }
    }
    EXPECT_EQ(removed, (std::vector<std::string>{startMenu + "\\Programs\\Acme\\",
                                                 startMenu + "\\Programs\\Acme Help.lnk",
                                                 desktop + "\\Acme.lnk"}));
    EXPECT_EQ(ReadTextFile(windows + "\\system.ini"), systemIniBefore);
}

} // namespace
