// A fixture for tests that change the registry between two snapshots: a
// marker key under each of the four roots, removed before and after, and
// the before and after snapshots compared into registry actions.
#pragma once

#include "hosted_test.h"
#include "registry/registry.h"

#include <string>
#include <vector>

// The marker key under one root, as a live path and as the actions show it.
struct TestRoot {
    HKEY hRoot;
    std::string path;
    std::string shown;
};

class RegistryChangeTest : public HostedTest {
  protected:
    explicit RegistryChangeTest(const std::string& markerName);
    void SetUp() override;
    void TearDown() override;

    void RemoveMarkerKeys();
    void Before();
    // Takes the after snapshot and compares; returns the texts of the
    // actions about the marker keys.
    std::vector<std::string> AfterAndCompare();

    std::string marker;
    // Classes root, local machine, current user, users (.Default).
    std::vector<TestRoot> roots;
    REGTRE* pBefore = nullptr;
    REGTRE* pAfter = nullptr;
};
