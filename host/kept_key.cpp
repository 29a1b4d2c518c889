// Saving a user's registry key before a common dialog writes into it and
// putting it back afterwards.
#include "host/kept_key.h"

namespace {

bool KeyExists(HKEY hRoot, const std::string& path) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

// Removes a key that holds neither subkeys nor values.
void DeleteIfEmpty(HKEY hRoot, const std::string& path) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    DWORD cSubkeys = 1, cValues = 1;
    RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &cSubkeys, nullptr, nullptr, &cValues,
                     nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(hKey);
    if (cSubkeys == 0 && cValues == 0)
        RegDeleteKeyA(hRoot, path.c_str());
}

std::vector<std::string> ValueNames(HKEY hKey) {
    std::vector<std::string> names;
    char szName[16384];
    for (DWORD i = 0;; ++i) {
        DWORD cchName = sizeof szName;
        if (RegEnumValueA(hKey, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return names;
        names.emplace_back(szName, cchName);
    }
}

} // namespace

void KeptRegistryKey::Keep(HKEY hRoot, const std::string& path) {
    hRoot_ = hRoot;
    path_ = path;
    values_.clear();
    missingKeys_.clear();
    std::string key = path;
    while (!key.empty() && !KeyExists(hRoot, key)) {
        missingKeys_.push_back(key);
        size_t iSlash = key.find_last_of('\\');
        key.resize(iSlash == std::string::npos ? 0 : iSlash);
    }
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    for (const std::string& name : ValueNames(hKey)) {
        Value value{name, REG_NONE, {}};
        DWORD cbData = 0;
        RegQueryValueExA(hKey, name.c_str(), nullptr, &value.dwType, nullptr, &cbData);
        value.data.resize(cbData);
        RegQueryValueExA(hKey, name.c_str(), nullptr, &value.dwType, value.data.data(), &cbData);
        values_.push_back(std::move(value));
    }
    RegCloseKey(hKey);
}

void KeptRegistryKey::PutBack() {
    if (!hRoot_)
        return;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot_, path_.c_str(), 0, KEY_ALL_ACCESS, &hKey) == ERROR_SUCCESS) {
        for (const std::string& name : ValueNames(hKey))
            RegDeleteValueA(hKey, name.c_str());
        for (const Value& value : values_)
            RegSetValueExA(hKey, value.name.c_str(), 0, value.dwType, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        RegCloseKey(hKey);
    }
    for (const std::string& key : missingKeys_)
        DeleteIfEmpty(hRoot_, key);
}
