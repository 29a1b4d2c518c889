// The registry's names and string data read and written exactly: through
// the wide-character calls held as UTF-8 where the system has them, through
// the ANSI calls elsewhere. The conversions are done here rather than by
// the code page functions, so that a text without an exact form (a lone
// surrogate, an odd byte count) is told apart instead of patched.
#include "registry/wide_names.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

bool ProbeWideCalls() {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    wchar_t szName[256];
    DWORD cchName = 256;
    LONG lResult = RegEnumKeyExW(hKey, 0, szName, &cchName, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(hKey);
    return lResult != ERROR_CALL_NOT_IMPLEMENTED;
}

// UTF-16 into UTF-8, appended at pbOut up to cbOut bytes; the length it
// needs, or -1 when a lone surrogate has no exact form.
long EncodeUtf8(const wchar_t* pch, size_t cch, char* pbOut, size_t cbOut) {
    size_t cb = 0;
    auto put = [&](unsigned value) {
        if (cb < cbOut)
            pbOut[cb] = static_cast<char>(value);
        ++cb;
    };
    for (size_t i = 0; i < cch; ++i) {
        unsigned ch = pch[i];
        if (ch >= 0xDC00 && ch < 0xE000)
            return -1;
        if (ch >= 0xD800 && ch < 0xDC00) {
            if (i + 1 == cch || pch[i + 1] < 0xDC00 || pch[i + 1] >= 0xE000)
                return -1;
            ch = 0x10000 + ((ch - 0xD800) << 10) + (pch[++i] - 0xDC00u);
        }
        if (ch < 0x80) {
            put(ch);
        } else if (ch < 0x800) {
            put(0xC0 | (ch >> 6));
            put(0x80 | (ch & 0x3F));
        } else if (ch < 0x10000) {
            put(0xE0 | (ch >> 12));
            put(0x80 | ((ch >> 6) & 0x3F));
            put(0x80 | (ch & 0x3F));
        } else {
            put(0xF0 | (ch >> 18));
            put(0x80 | ((ch >> 12) & 0x3F));
            put(0x80 | ((ch >> 6) & 0x3F));
            put(0x80 | (ch & 0x3F));
        }
    }
    return static_cast<long>(cb);
}

// UTF-8 into UTF-16; false for bytes that are not well-formed UTF-8.
bool DecodeUtf8(const char* pb, size_t cb, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < cb;) {
        unsigned char lead = static_cast<unsigned char>(pb[i]);
        size_t cTrail = lead < 0x80                   ? 0
                        : lead >= 0xC2 && lead < 0xE0 ? 1
                        : lead >= 0xE0 && lead < 0xF0 ? 2
                        : lead >= 0xF0 && lead < 0xF5 ? 3
                                                      : 4;
        if (cTrail > 3 || cb - i <= cTrail)
            return false;
        unsigned ch = cTrail ? lead & (0x3F >> cTrail) : lead;
        for (size_t k = 1; k <= cTrail; ++k) {
            unsigned char trail = static_cast<unsigned char>(pb[i + k]);
            if ((trail & 0xC0) != 0x80)
                return false;
            ch = (ch << 6) | (trail & 0x3F);
        }
        static const unsigned kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (ch < kLeast[cTrail] || ch > 0x10FFFF || (ch >= 0xD800 && ch < 0xE000))
            return false;
        if (ch >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((ch - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((ch - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(ch);
        }
        i += cTrail + 1;
    }
    return true;
}

std::string Utf8OfWide(const std::wstring& wide) {
    std::string utf8(wide.size() * 3, '\0');
    long cb = EncodeUtf8(wide.data(), wide.size(), utf8.data(), utf8.size());
    utf8.resize(cb < 0 ? 0 : static_cast<size_t>(cb));
    return utf8;
}

std::wstring WideOfAnsi(const std::string& ansi) {
    int cch =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), cch);
    return wide;
}

// A name that is not well-formed registry text names no key: it gets this
// one, which no key can have, so that the call fails instead of reaching
// another key.
const wchar_t* WideName(const char* pszName, std::wstring& wide) {
    if (!pszName)
        return nullptr;
    if (!DecodeUtf8(pszName, std::strlen(pszName), wide))
        wide = L"\\";
    return wide.c_str();
}

// Encodes a name of cch characters at pszName (capacity *pcbName with its
// zero); the result as an enumeration gives it.
LONG PutName(const wchar_t* pch, DWORD cch, char* pszName, DWORD* pcbName, bool* pfExact) {
    long cb = EncodeUtf8(pch, cch, pszName, *pcbName);
    bool fNul = std::wmemchr(pch, L'\0', cch) != nullptr;
    *pfExact = cb >= 0 && !fNul;
    if (cb < 0) {
        std::string shown = "\xEF\xBF\xBD"; // a name with no exact form is never acted on
        cb = static_cast<long>(shown.size());
        if (static_cast<DWORD>(cb) < *pcbName)
            std::memcpy(pszName, shown.data(), shown.size());
    }
    if (static_cast<DWORD>(cb) >= *pcbName) {
        *pcbName = static_cast<DWORD>(cb) + 1;
        return ERROR_MORE_DATA;
    }
    pszName[cb] = '\0';
    *pcbName = static_cast<DWORD>(cb);
    return ERROR_SUCCESS;
}

// The wide string data at pbData, cbData bytes long, rewritten there as
// UTF-8 when it fits the buffer of *pcbData bytes.
LONG PutStringData(BYTE* pbData, DWORD cbData, DWORD* pcbData, bool* pfExact) {
    thread_local std::vector<wchar_t> wide;
    if (cbData % 2) {
        *pfExact = false;
        *pcbData = cbData;
        return ERROR_SUCCESS;
    }
    wide.assign(reinterpret_cast<const wchar_t*>(pbData),
                reinterpret_cast<const wchar_t*>(pbData) + cbData / 2);
    long cb = EncodeUtf8(wide.data(), wide.size(), reinterpret_cast<char*>(pbData), *pcbData);
    if (cb < 0) {
        *pfExact = false;
        *pcbData = cbData;
        return ERROR_SUCCESS;
    }
    // One that does not fit is read again into a grown buffer.
    bool fFits = static_cast<DWORD>(cb) <= *pcbData;
    *pcbData = static_cast<DWORD>(cb);
    return fFits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

} // namespace

bool fRegistryAnsiCallsForTests;

bool RegistryTextIsUtf8() {
    static const bool fUtf8 = ProbeWideCalls();
    return fUtf8 && !fRegistryAnsiCallsForTests;
}

bool IsRegistryStringType(DWORD dwType) {
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

std::string ShownRegistryText(const std::string& text) {
    if (!RegistryTextIsUtf8())
        return text;
    std::wstring wide;
    if (!DecodeUtf8(text.data(), text.size(), wide))
        return text;
    int cb = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                 "?", nullptr);
    std::string shown(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), shown.data(), cb,
                        "?", nullptr);
    return shown;
}

std::string Utf8OfRegistryText(const std::string& text) {
    return RegistryTextIsUtf8() ? text : Utf8OfWide(WideOfAnsi(text));
}

bool RegistryTextOfUtf8(const std::string& utf8, std::string& text) {
    std::wstring wide;
    if (!DecodeUtf8(utf8.data(), utf8.size(), wide))
        return false;
    if (RegistryTextIsUtf8()) {
        text = utf8;
        return true;
    }
    BOOL fDefaulted = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
    text.assign(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), cb,
                        nullptr, &fDefaulted);
    return !fDefaulted;
}

std::string RegistryTextOfAnsi(const std::string& ansi) {
    return RegistryTextIsUtf8() ? Utf8OfWide(WideOfAnsi(ansi)) : ansi;
}

LONG QueryRegistryKeySizes(HKEY hKey, DWORD* pcSubkeys, DWORD* pcbMaxSubkey, DWORD* pcValues,
                           DWORD* pcbMaxValueName, DWORD* pcbMaxValueData) {
    if (!RegistryTextIsUtf8())
        return RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, pcSubkeys, pcbMaxSubkey, nullptr,
                                pcValues, pcbMaxValueName, pcbMaxValueData, nullptr, nullptr);
    LONG lResult =
        RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, pcSubkeys, pcbMaxSubkey, nullptr,
                         pcValues, pcbMaxValueName, pcbMaxValueData, nullptr, nullptr);
    // A UTF-16 unit takes at most three bytes of UTF-8.
    *pcbMaxSubkey *= 3;
    *pcbMaxValueName *= 3;
    *pcbMaxValueData += *pcbMaxValueData / 2 + 2;
    return lResult;
}

LONG EnumRegistryValue(HKEY hKey, DWORD iIndex, char* pszName, DWORD* pcbName, DWORD* pdwType,
                       BYTE* pbData, DWORD* pcbData, bool* pfExact) {
    *pfExact = true;
    if (!RegistryTextIsUtf8())
        return RegEnumValueA(hKey, iIndex, pszName, pcbName, nullptr, pdwType, pbData, pcbData);
    thread_local std::vector<wchar_t> name;
    if (name.size() < *pcbName)
        name.resize(*pcbName);
    DWORD cchName = *pcbName, cbData = *pcbData;
    LONG lResult =
        RegEnumValueW(hKey, iIndex, name.data(), &cchName, nullptr, pdwType, pbData, &cbData);
    if (lResult == ERROR_MORE_DATA)
        *pcbData = cbData + cbData / 2 + 2;
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult = PutName(name.data(), cchName, pszName, pcbName, pfExact);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    bool fDataExact = true;
    if (!pbData || !IsRegistryStringType(*pdwType)) {
        *pcbData = cbData;
        return ERROR_SUCCESS;
    }
    lResult = PutStringData(pbData, cbData, pcbData, &fDataExact);
    *pfExact = *pfExact && fDataExact;
    return lResult;
}

LONG EnumRegistrySubkey(HKEY hKey, DWORD iIndex, char* pszName, DWORD* pcbName, bool* pfExact) {
    *pfExact = true;
    if (!RegistryTextIsUtf8())
        return RegEnumKeyExA(hKey, iIndex, pszName, pcbName, nullptr, nullptr, nullptr, nullptr);
    wchar_t szName[256]; // the longest key name the registry allows
    DWORD cchName = 256;
    LONG lResult =
        RegEnumKeyExW(hKey, iIndex, szName, &cchName, nullptr, nullptr, nullptr, nullptr);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    return PutName(szName, cchName, pszName, pcbName, pfExact);
}

LONG WINAPI OpenRegistryKeyText(HKEY hParent, LPCSTR pszName, DWORD dwOptions, REGSAM samDesired,
                                PHKEY phKey) {
    if (!RegistryTextIsUtf8())
        return RegOpenKeyExA(hParent, pszName, dwOptions, samDesired, phKey);
    std::wstring wide;
    return RegOpenKeyExW(hParent, WideName(pszName, wide), dwOptions, samDesired, phKey);
}

LONG CreateRegistryKeyText(HKEY hParent, const char* pszName, DWORD dwOptions, REGSAM samDesired,
                           PHKEY phKey, DWORD* pdwDisposition) {
    if (!RegistryTextIsUtf8())
        return RegCreateKeyExA(hParent, pszName, 0, nullptr, dwOptions, samDesired, nullptr, phKey,
                               pdwDisposition);
    std::wstring wide;
    return RegCreateKeyExW(hParent, WideName(pszName, wide), 0, nullptr, dwOptions, samDesired,
                           nullptr, phKey, pdwDisposition);
}

LONG DeleteRegistryKeyText(HKEY hParent, const char* pszName) {
    if (!RegistryTextIsUtf8())
        return RegDeleteKeyA(hParent, pszName);
    std::wstring wide;
    return RegDeleteKeyW(hParent, WideName(pszName, wide));
}

LONG SetRegistryValueText(HKEY hKey, const char* pszName, DWORD dwType, const BYTE* pbData,
                          DWORD cbData) {
    if (!RegistryTextIsUtf8())
        return RegSetValueExA(hKey, pszName, 0, dwType, pbData, cbData);
    std::wstring name, data;
    if (!DecodeUtf8(pszName, std::strlen(pszName), name))
        return ERROR_INVALID_PARAMETER;
    if (!IsRegistryStringType(dwType))
        return RegSetValueExW(hKey, name.c_str(), 0, dwType, pbData, cbData);
    if (!DecodeUtf8(reinterpret_cast<const char*>(pbData), cbData, data))
        return ERROR_INVALID_PARAMETER;
    return RegSetValueExW(hKey, name.c_str(), 0, dwType, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

LONG DeleteRegistryValueText(HKEY hKey, const char* pszName) {
    if (!RegistryTextIsUtf8())
        return RegDeleteValueA(hKey, pszName);
    std::wstring wide;
    return RegDeleteValueW(hKey, WideName(pszName, wide));
}

void DeleteAllRegistryValues(HKEY hKey) {
    if (!RegistryTextIsUtf8()) {
        char szName[16384];
        for (;;) {
            DWORD cchName = sizeof szName;
            if (RegEnumValueA(hKey, 0, szName, &cchName, nullptr, nullptr, nullptr, nullptr) !=
                    ERROR_SUCCESS ||
                RegDeleteValueA(hKey, szName) != ERROR_SUCCESS)
                return;
        }
    }
    std::vector<wchar_t> name(16384);
    for (;;) {
        DWORD cchName = static_cast<DWORD>(name.size());
        if (RegEnumValueW(hKey, 0, name.data(), &cchName, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS ||
            RegDeleteValueW(hKey, name.data()) != ERROR_SUCCESS)
            return;
    }
}
