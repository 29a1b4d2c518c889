// Registry helpers for tests: keys and values written with the plain
// registry functions, names and string data in UTF-8, link keys, the look-up
// of nodes and actions that tests check, and a fixture that compares two
// snapshots around changes to marker keys.
#pragma once

#include "hosted_test.h"

#include <windows.h>

#include <string>
#include <vector>

#include "registry/tree.h"

struct DEACTION;

void CreateTestKey(HKEY hRoot, const std::string& path);
void SetTestValue(HKEY hRoot, const std::string& path, const std::string& name, DWORD dwType,
                  const void* pData, DWORD cbData);
void SetTestString(HKEY hRoot, const std::string& path, const std::string& name,
                   const std::string& text);
void DeleteTestValue(HKEY hRoot, const std::string& path, const std::string& name);
// Removes the key with its subtree (dangling links included); a missing key is fine.
void RemoveTestKey(HKEY hRoot, const std::string& path);
// Opens a key of any path length for reading and writing; null when missing.
HKEY OpenTestKey(HKEY hRoot, const std::string& path);
// Listed by its parent, whether it can be opened or not.
bool TestKeyExists(HKEY hRoot, const std::string& path);
// Makes a link key that points at a key of HKEY_LOCAL_MACHINE (which need
// not exist: a dangling link is listed by its parent but cannot be opened).
void CreateLinkKey(HKEY hRoot, const std::string& path, const std::string& target);

// Values of a live key as (name, type, bytes), in enumeration order.
struct LiveValue {
    std::string name;
    DWORD dwType;
    std::string bytes;
    bool operator==(const LiveValue&) const = default;
};
std::vector<LiveValue> ReadLiveValues(HKEY hRoot, const std::string& path);
// Names of a live key's subkeys, in enumeration order.
std::vector<std::string> LiveSubkeyNames(HKEY hRoot, const std::string& path);

// Keeps whether a key exists and its values, and puts them back when it goes.
class SavedKey {
  public:
    SavedKey(HKEY hRoot, const std::string& path);
    ~SavedKey();
    SavedKey(const SavedKey&) = delete;
    SavedKey& operator=(const SavedKey&) = delete;

  private:
    HKEY hRoot_;
    std::string path_;
    bool fExisted_;
    std::vector<LiveValue> values_;
};

// Appends a child node (with one REG_SZ value "v" when pszValue is given)
// at the end of pParent's child chain, as the reader would.
RTREE* AddTestChild(RTREE* pParent, const std::string& name, const char* pszValue = nullptr);

// The node at a backslash-separated path below a tree root (no leading
// backslash), or null.
RTREE* NodeAt(RTREE* pRoot, const std::string& path);
std::vector<std::string> ChildNames(const RTREE* pNode);
const RDATA* ValueOf(const RTREE* pNode, const std::string& name);

// Descriptions of the registry actions in list order whose text holds marker.
std::vector<std::string> RegistryActionTexts(const std::string& marker);
std::vector<DEACTION*> RegistryActions(const std::string& marker);
// The texts that hold part, in their order.
std::vector<std::string> Containing(const std::vector<std::string>& texts, const std::string& part);

// The marker key under one root, as a live path and as the actions show it.
struct TestRoot {
    HKEY hRoot;
    std::string path;
    std::string shown;
};

// A marker key under each of the four roots, removed before and after; the
// before and after snapshots compared into registry actions.
class RegistryChangeTest : public HostedTest {
  protected:
    explicit RegistryChangeTest(const std::string& markerName);
    void SetUp() override;
    void TearDown() override;

    void RemoveMarkerKeys();
    void TakeMarkerSnapshot(REGTRE** ppSnapshot);
    void Before() { TakeMarkerSnapshot(&pBefore); }
    // Takes the after snapshot and compares; returns the texts of the
    // actions about the marker keys.
    std::vector<std::string> AfterAndCompare();

    std::string marker;
    // Classes root, local machine, current user, users (.Default).
    std::vector<TestRoot> roots;
    REGTRE* pBefore = nullptr;
    REGTRE* pAfter = nullptr;
};
