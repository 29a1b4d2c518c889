// The install log's manifest: one record a line, fields separated by tabs,
// written after setup and read back, refusing anything it does not fully
// understand, before any action is made from it.
#include "install_log/manifest.h"

#include "actions/deaction.h"
#include "common/escape.h"
#include "common/handles.h"
#include "common/strings.h"
#include "common/paths.h"
#include "files/lists.h"
#include "registry/snapshot.h"
#include "registry/wide_names.h"

#include <wincrypt.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

std::string Hex(const BYTE* pb, size_t cb) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < cb; ++i) {
        out += kDigits[pb[i] >> 4];
        out += kDigits[pb[i] & 15];
    }
    return out;
}

bool Unhex(const std::string& text, std::string& bytes) {
    if (text.size() % 2)
        return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        auto result = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (result.ec != std::errc() || result.ptr != text.data() + i + 2)
            return false;
        bytes += static_cast<char>(value);
    }
    return true;
}

// A value's data as the manifest holds it: text in UTF-8.
std::string LoggedData(const RDATA* pRD) {
    std::string data(reinterpret_cast<const char*>(pRD->abData), pRD->cbData);
    return IsRegistryStringType(pRD->dwType) ? Utf8OfRegistryText(data) : data;
}

template <class Number> bool ParseNumber(const std::string& text, Number& value) {
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

class Writer {
  public:
    void Line(std::initializer_list<std::string> fields) {
        bool fFirst = true;
        for (const std::string& field : fields) {
            if (!fFirst)
                text_ += '\t';
            text_ += fFirst ? field : EscapeField(field);
            fFirst = false;
        }
        text_ += '\n';
        ++cLines_;
    }
    void Tree(char side, const RTREE* pNode, int iDepth) {
        for (; pNode; pNode = pNode->pNext) {
            Line({"node", std::string(1, side), std::to_string(iDepth),
                  pNode->fUnreadable ? "1" : "0", Utf8OfRegistryText(pNode->pszName)});
            for (const RDATA* pRD = pNode->pData; pRD; pRD = pRD->pNext) {
                std::string data = LoggedData(pRD);
                Line({"value", std::string(1, side), std::to_string(pRD->dwType),
                      Utf8OfRegistryText(pRD->pszName),
                      Hex(reinterpret_cast<const BYTE*>(data.data()), data.size())});
            }
            Tree(side, pNode->pChild, iDepth + 1);
            if (iDepth == 0)
                return; // the item's key only, not its siblings
        }
    }
    int Lines() const { return cLines_; }
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
    int cLines_ = 0;
};

void WriteItem(Writer& out, const LogItem& item) {
    out.Line({"item", std::to_string(item.wKind), std::to_string(item.wOrder), item.description,
              item.object, item.extra});
    for (const std::string& folder : item.folders)
        out.Line({"folder", folder});
    for (const FileStamp& file : item.files)
        out.Line({"file", file.path, std::to_string(file.cbSize), std::to_string(file.qwWriteTime),
                  file.sha1});
    if (!item.backup.empty())
        out.Line({"backup", item.backup});
    if (item.wKind != DEA_REGISTRY)
        return;
    out.Line({"key", std::to_string(item.dwChange), std::to_string(item.iRoot),
              Utf8OfRegistryText(item.keyPath)});
    out.Tree('b', item.pBefore, 0);
    out.Tree('a', item.pAfter, 0);
}

constexpr char kTooLong[] = "a path of more than 259 characters";
constexpr char kUnspellable[] = "a registry name or text that this system cannot hold exactly";

// Reads the manifest line by line into the log.
class Reader {
  public:
    explicit Reader(InstallLog& log) : log_(log) {}

    std::string Read(const std::string& text) {
        std::istringstream in(text);
        std::string line;
        bool fEnded = false;
        while (std::getline(in, line)) {
            ++iLine_;
            if (fEnded)
                return Error("there is text after the end record");
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Split(line);
            std::string error = iLine_ == 1 ? Header() : Record(fEnded);
            if (!error.empty())
                return error;
        }
        if (iLine_ == 0)
            return "the manifest is empty";
        if (!fEnded)
            return "the manifest is cut short: its end record is missing";
        return "";
    }

  private:
    std::string Error(const std::string& what) const {
        return "line " + std::to_string(iLine_) + ": " + what;
    }

    void Split(const std::string& line) {
        fields_.clear();
        size_t iStart = 0;
        for (;;) {
            size_t iTab = line.find('\t', iStart);
            fields_.push_back(line.substr(iStart, iTab - iStart));
            if (iTab == std::string::npos)
                break;
            iStart = iTab + 1;
        }
    }

    bool Field(size_t i, std::string& out) const { return Unescape(fields_[i], out); }

    std::string Header() {
        if (fields_.size() != 2 || fields_[0] != kInstallLogMagic ||
            !ParseNumber(fields_[1], log_.iVersion))
            return Error("this is not a TRUN95 install log");
        if (log_.iVersion < kOldestInstallLogVersion || log_.iVersion > kInstallLogVersion)
            return "the log is of format version " + std::to_string(log_.iVersion) +
                   "; this TRUN95 reads versions " + std::to_string(kOldestInstallLogVersion) +
                   " to " + std::to_string(kInstallLogVersion);
        return "";
    }

    // A registry name or text of the manifest as the registry reader holds
    // it; false when this system cannot hold it exactly. An older log's name
    // with "?" may stand for letters its ANSI text could not hold: the item
    // is marked, so that its key is left alone.
    bool RegistryText(std::string& text, bool fName = true) {
        if (log_.iVersion == 1) {
            if (fName && text.find('?') != std::string::npos)
                log_.items.back().fInexactName = true;
            text = RegistryTextOfAnsi(text);
            return true;
        }
        return RegistryTextOfUtf8(std::string(text), text);
    }

    std::string Record(bool& fEnded) {
        const std::string& kind = fields_[0];
        struct Shape {
            const char* pszKind;
            size_t cFields;
        };
        static const Shape kShapes[] = {{"name", 2},    {"setup", 2},  {"installed", 2},
                                        {"caution", 2}, {"item", 6},   {"folder", 2},
                                        {"file", 5},    {"backup", 2}, {"key", 4},
                                        {"node", 5},    {"value", 5},  {"end", 3}};
        const Shape* pShape = nullptr;
        for (const Shape& shape : kShapes) {
            if (kind == shape.pszKind)
                pShape = &shape;
        }
        if (!pShape)
            return Error("unknown record \"" + kind + "\"");
        if (fields_.size() != pShape->cFields)
            return Error("the " + kind + " record has " + std::to_string(fields_.size()) +
                         " fields instead of " + std::to_string(pShape->cFields));
        if (kind == "end")
            return End(fEnded);
        if (kind == "name" || kind == "setup" || kind == "installed" || kind == "caution")
            return Header(kind);
        if (kind == "item")
            return Item();
        LogItem* pItem = log_.items.empty() ? nullptr : &log_.items.back();
        if (!pItem)
            return Error("a " + kind + " record before the first item");
        return Detail(kind, *pItem);
    }

    std::string Header(const std::string& kind) {
        std::string value;
        if (!Field(1, value))
            return Error("bad escape in the " + kind + " record");
        if (kind == "name")
            log_.name = value;
        else if (kind == "setup")
            log_.setup = value;
        else if (kind == "installed")
            log_.installed = value;
        else
            log_.cautions.push_back(value);
        return "";
    }

    std::string Item() {
        LogItem item;
        if (!ParseNumber(fields_[1], item.wKind) || item.wKind < DEA_GROUP ||
            item.wKind > DEA_REGISTRY)
            return Error("unknown item kind \"" + fields_[1] + "\"");
        if (!ParseNumber(fields_[2], item.wOrder))
            return Error("bad order \"" + fields_[2] + "\"");
        if (!Field(3, item.description) || !Field(4, item.object) || !Field(5, item.extra))
            return Error("bad escape in the item record");
        if (item.description.empty() || item.object.empty())
            return Error("an item without its text or object");
        if (item.object.size() >= MAX_PATH || item.extra.size() >= MAX_PATH)
            return Error(kTooLong);
        log_.items.push_back(std::move(item));
        before_.clear();
        after_.clear();
        return "";
    }

    std::string Detail(const std::string& kind, LogItem& item) {
        if (kind == "folder") {
            item.folders.emplace_back();
            if (!Field(1, item.folders.back()))
                return Error("bad escape in the folder record");
            return item.folders.back().size() < MAX_PATH ? "" : Error(kTooLong);
        }
        if (kind == "backup")
            return Field(1, item.backup) && item.backup.find_first_of("\\/:") == std::string::npos
                       ? ""
                       : Error("bad backup name \"" + fields_[1] + "\"");
        if (kind == "file")
            return File(item);
        if (item.wKind != DEA_REGISTRY)
            return Error("a " + kind + " record in an item that is not a registry item");
        if (kind == "key")
            return Key(item);
        return kind == "node" ? Node(item) : Value(item);
    }

    std::string File(LogItem& item) {
        FileStamp stamp;
        if (!Field(1, stamp.path) || !ParseNumber(fields_[2], stamp.cbSize) ||
            !ParseNumber(fields_[3], stamp.qwWriteTime) ||
            (!fields_[4].empty() && fields_[4].size() != 40))
            return Error("bad file record");
        if (stamp.path.size() >= MAX_PATH)
            return Error(kTooLong);
        stamp.sha1 = fields_[4];
        item.files.push_back(std::move(stamp));
        return "";
    }

    std::string Key(LogItem& item) {
        if (!ParseNumber(fields_[1], item.dwChange) || item.dwChange < REG_VALUES_CHANGED ||
            item.dwChange > REG_KEY_DELETED)
            return Error("unknown registry change \"" + fields_[1] + "\"");
        if (!ParseNumber(fields_[2], item.iRoot) || item.iRoot < 0 || item.iRoot >= cRegRoots)
            return Error("unknown registry root \"" + fields_[2] + "\"");
        if (!Field(3, item.keyPath) || item.keyPath.empty())
            return Error("bad key path");
        if (!RegistryText(item.keyPath))
            return Error(kUnspellable);
        return "";
    }

    // The chain of keys from the root of the item's tree down to the parent
    // of its key, so that the key's live path is found as in a snapshot.
    RTREE* ParentChain(const LogItem& item) {
        RTREE* pNode = NewRegistryNode();
        pNode->hRoot = aRegRoots[item.iRoot].hRoot;
        size_t iStart = 0;
        for (size_t iSlash; (iSlash = item.keyPath.find('\\', iStart)) != std::string::npos;
             iStart = iSlash + 1)
            pNode = Attach(pNode, item.keyPath.substr(iStart, iSlash - iStart));
        return pNode;
    }

    RTREE* Attach(RTREE* pParent, const std::string& name) {
        RTREE* pNode = NewRegistryNode();
        std::free(pNode->pszName);
        pNode->pszName = DupString(name.c_str());
        pNode->hRoot = pParent->hRoot;
        pNode->pParent = pParent;
        RTREE** ppLink = &pParent->pChild;
        while (*ppLink)
            ppLink = &(*ppLink)->pNext;
        *ppLink = pNode;
        return pNode;
    }

    std::string Node(LogItem& item) {
        if (item.keyPath.empty())
            return Error("a node record before the key record");
        char side = fields_[1] == "b" ? 'b' : fields_[1] == "a" ? 'a' : 0;
        size_t iDepth = 0;
        std::string name;
        if (!side || !ParseNumber(fields_[2], iDepth) || !Field(4, name) ||
            (fields_[3] != "0" && fields_[3] != "1"))
            return Error("bad node record");
        if (!RegistryText(name))
            return Error(kUnspellable);
        std::vector<RTREE*>& path = side == 'b' ? before_ : after_;
        RTREE*& pTop = side == 'b' ? item.pBefore : item.pAfter;
        if (iDepth == 0) {
            if (pTop)
                return Error("a second top key on one side");
            RTREE* pParent = side == 'b' || item.dwChange == REG_KEY_ADDED ? ParentChain(item)
                                                                           : NewRegistryNode();
            pTop = Attach(pParent, name);
            path.assign(1, pTop);
        } else {
            if (!pTop || iDepth > path.size())
                return Error("a node deeper than its parent");
            path.resize(iDepth);
            path.push_back(Attach(path.back(), name));
        }
        path.back()->fUnreadable = fields_[3] == "1";
        return "";
    }

    std::string Value(LogItem& item) {
        std::vector<RTREE*>& path = fields_[1] == "b" ? before_ : after_;
        DWORD dwType = 0;
        std::string name, bytes;
        if ((fields_[1] != "b" && fields_[1] != "a") || path.empty() ||
            !ParseNumber(fields_[2], dwType) || !Field(3, name) || !Unhex(fields_[4], bytes))
            return Error("bad value record");
        if (!RegistryText(name) || (IsRegistryStringType(dwType) && !RegistryText(bytes, false)))
            return Error(kUnspellable);
        // Values keep the order in which they were written.
        RDATA** ppLink = &path.back()->pData;
        while (*ppLink)
            ppLink = &(*ppLink)->pNext;
        *ppLink =
            NewRegistryData(dwType, static_cast<DWORD>(bytes.size()),
                            reinterpret_cast<const BYTE*>(bytes.data()), name.c_str(), nullptr);
        (void)item;
        return "";
    }

    std::string End(bool& fEnded) {
        size_t cItems = 0;
        int cLines = 0;
        if (!ParseNumber(fields_[1], cItems) || !ParseNumber(fields_[2], cLines))
            return Error("bad end record");
        if (cItems != log_.items.size() || cLines != iLine_ - 1)
            return Error("the end record counts " + fields_[1] + " items in " + fields_[2] +
                         " lines, but the manifest has " + std::to_string(log_.items.size()) +
                         " in " + std::to_string(iLine_ - 1) + ": it was damaged");
        fEnded = true;
        return "";
    }

    InstallLog& log_;
    int iLine_ = 0;
    std::vector<std::string> fields_;
    std::vector<RTREE*> before_, after_;
};

void FreeTopNode(RTREE* pNode) {
    if (!pNode)
        return;
    while (pNode->pParent)
        pNode = pNode->pParent;
    FreeRegistryNode(pNode, 1);
}

ULONGLONG FileTimeValue(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string Sha1OfFile(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return "";
    HCRYPTPROV hProv = 0;
    HCRYPTHASH hHash = 0;
    std::string result;
    if (CryptAcquireContextA(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash)) {
        BYTE abBuffer[65536];
        DWORD cbRead = 0;
        bool fOk = true;
        while (fOk && ReadFile(file.get(), abBuffer, sizeof abBuffer, &cbRead, nullptr) && cbRead)
            fOk = CryptHashData(hHash, abBuffer, cbRead, 0);
        BYTE abHash[20];
        DWORD cbHash = sizeof abHash;
        if (fOk && CryptGetHashParam(hHash, HP_HASHVAL, abHash, &cbHash, 0))
            result = Hex(abHash, cbHash);
    }
    if (hHash)
        CryptDestroyHash(hHash);
    if (hProv)
        CryptReleaseContext(hProv, 0);
    return result;
}

} // namespace

bool operator==(const FileStamp& a, const FileStamp& b) {
    return a.cbSize == b.cbSize && a.qwWriteTime == b.qwWriteTime && a.sha1 == b.sha1;
}

bool StampFile(const std::string& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp.path = path;
    stamp.cbSize = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.qwWriteTime = FileTimeValue(data.ftLastWriteTime);
    stamp.sha1 = Sha1OfFile(path);
    return true;
}

InstallLog::~InstallLog() {
    for (LogItem& item : items) {
        FreeTopNode(item.pBefore);
        FreeTopNode(item.pAfter);
    }
}

std::string ManifestText(const InstallLog& log) {
    Writer out;
    out.Line({kInstallLogMagic, std::to_string(kInstallLogVersion)});
    out.Line({"name", log.name});
    out.Line({"setup", log.setup});
    out.Line({"installed", log.installed});
    for (const std::string& caution : log.cautions)
        out.Line({"caution", caution});
    size_t cItems = 0;
    for (const LogItem& item : log.items) {
        if (!item.fDone) {
            WriteItem(out, item);
            ++cItems;
        }
    }
    int cLines = out.Lines();
    out.Line({"end", std::to_string(cItems), std::to_string(cLines)});
    return out.Text();
}

std::string ReadManifest(const std::string& text, InstallLog& log) {
    return Reader(log).Read(text);
}

std::string LoadInstallLog(const std::string& folder, InstallLog& log) {
    std::string manifest = JoinPath(folder.c_str(), kManifestName);
    std::ifstream in(manifest, std::ios::binary);
    if (!PathExists(folder.c_str()))
        return "there is no install log in " + folder +
               ": the program was uninstalled already, or its log was never saved";
    if (!in)
        return "there is no " + std::string(kManifestName) + " in " + folder;
    std::ostringstream text;
    text << in.rdbuf();
    std::string error = ReadManifest(text.str(), log);
    if (!error.empty())
        return std::string(kManifestName) + ", " + error;
    std::string backups = JoinPath(folder.c_str(), kBackupFolderName);
    for (const LogItem& item : log.items) {
        if (item.wKind == DEA_RESTORE &&
            (item.backup.empty() ||
             !PathExists(JoinPath(backups.c_str(), item.backup.c_str()).c_str())))
            return "the backed-up copy of " + item.object + " is missing";
    }
    return "";
}

bool WriteInstallLog(const std::string& folder, const InstallLog& log) {
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string manifest = JoinPath(folder.c_str(), kManifestName);
    std::string written = manifest + ".new";
    {
        std::ofstream out(written, std::ios::binary | std::ios::trunc);
        out << ManifestText(log);
        if (!out.flush())
            return false;
    }
    return MoveFileExA(written.c_str(), manifest.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
