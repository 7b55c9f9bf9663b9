#include "tools/WebPackage.h"

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "common/EnDeCrypt.h"
#include "common/uStoredProc.h"
#include "common/uXmlNode.h"
#include "common/uZuvArchiveUtils.h"
#include "import_service/uQelInProcessors.h"
#include "import_service/udmMainDataModule.h"
#include "platform/os/Guid.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"

namespace fs = std::filesystem;

namespace svc {

namespace {

[[noreturn]] void Fail(int line, const std::string& text) {
    throw EWebPackageError("line " + std::to_string(line) + ": " + text);
}

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3, cp = c & 0x07;
        } else {
            return false;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

bool IsName(std::string_view s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    return true;
}

// The import finds fields without regard to case, so Id and ID are one field.
std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool KnownItem(const std::string& item) {
    try {
        TTypeRequestEnum::KindOfList(item + "_LIST");
        return true;
    } catch (const rtl::Exception&) {
        return false;
    }
}

// One line's words: the item, then Name=Value pairs.
TWebRequest ParseLine(std::string_view text, int line) {
    TWebRequest r;
    r.Line = line;
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skipBlanks();
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    r.Item = std::string(text.substr(start, i - start));
    if (!KnownItem(r.Item)) Fail(line, "unknown request \"" + r.Item + "\"");
    std::set<std::string> seen;
    for (skipBlanks(); i < text.size(); skipBlanks()) {
        const std::size_t nameStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ' ' && text[i] != '\t') ++i;
        std::string name(text.substr(nameStart, i - nameStart));
        if (i >= text.size() || text[i] != '=' || !IsName(name))
            Fail(line, "expected Name=Value, found \"" + name + "\"");
        ++i;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const char c = text[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < text.size() && (text[i] == '"' || text[i] == '\\')) {
                    value += text[i++];
                    continue;
                }
                value += c;
            }
            if (!closed) Fail(line, "the value of " + name + " has no closing quote");
            if (i < text.size() && text[i] != ' ' && text[i] != '\t')
                Fail(line, "a blank must follow the quoted value of " + name);
        } else {
            const std::size_t valueStart = i;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
            value = std::string(text.substr(valueStart, i - valueStart));
        }
        if (!seen.insert(Lower(name)).second) Fail(line, "field " + name + " given twice");
        r.Fields.emplace_back(std::move(name), std::move(value));
    }
    return r;
}

TXmlNode& AddItem(TXmlNode& list, const TWebRequest& r) {
    TXmlNode& item = list.NodeNew(r.Item);
    for (const auto& [name, value] : r.Fields) item.NodeNewText(name, value);
    return item;
}

// Components for request objects that only read items: no call ever reaches a database.
class TNoDbProc : public TStoredProc {
public:
    explicit TNoDbProc(const TStoredProcDecl& decl) : decl_(decl) { CreateDeclaredParams(decl_, params_); }
    const TStoredProcDecl& Declaration() const override { return decl_; }
    void SetSession(TDataSession*) override {}
    db::TParams& Params() override { return params_; }
    void ExecProc() override { throw EWebPackageError("no database here: " + decl_.StoredProcName); }

private:
    TStoredProcDecl decl_;
    db::TParams params_;
};

class TNoDbQuery : public TDataQuery {
public:
    explicit TNoDbQuery(const TQueryDecl& decl) : decl_(decl) {}
    const TQueryDecl& Declaration() const override { return decl_; }
    void SetSession(TDataSession*) override {}
    bool Active() const override { return false; }
    db::TDataSet& Open() override { throw EWebPackageError("no database here: " + decl_.SQL); }
    void Close() override {}

private:
    TQueryDecl decl_;
};

class TNoDbFactory : public TComponentFactory {
public:
    std::unique_ptr<TStoredProc> CreateStoredProc(const TStoredProcDecl& decl) override {
        return std::make_unique<TNoDbProc>(decl);
    }
    std::unique_ptr<TDataQuery> CreateQuery(const TQueryDecl& decl) override {
        return std::make_unique<TNoDbQuery>(decl);
    }
};

std::string Digits(long value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*ld", width, value);
    return buf;
}

// A temporary folder inside the target folder (so that the finished package is renamed into
// place), removed with whatever it holds when the scope ends.
class TWorkFolder {
public:
    explicit TWorkFolder(const std::string& folder) {
        std::string pattern = folder + "/.zuvwebpack_XXXXXX";
        if (!::mkdtemp(pattern.data())) throw EWebPackageError("cannot create a work folder in " + folder);
        path_ = pattern;
    }
    ~TWorkFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TWorkFolder(const TWorkFolder&) = delete;
    TWorkFolder& operator=(const TWorkFolder&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace

std::vector<TWebRequest> ParseWebRequests(std::string_view text) {
    std::vector<TWebRequest> requests;
    int line = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view l = text.substr(pos, end - pos);
        pos = end + 1;
        ++line;
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        if (!ValidUtf8(l)) Fail(line, "the text is not UTF-8");
        const std::size_t first = l.find_first_not_of(" \t");
        if (first == std::string_view::npos || l[first] == '#') continue;
        requests.push_back(ParseLine(l, line));
    }
    return requests;
}

void CheckWebRequests(const std::vector<TWebRequest>& requests) {
    TNoDbFactory factory;
    TdmMainDataModule dm(factory);
    for (const TWebRequest& r : requests) {
        TXmlNode list(r.Item + "_LIST");
        const TXmlNode& item = AddItem(list, r);
        try {
            auto request =
                TPersistentObjectFactory::CreateRequest(TTypeRequestEnum::KindOfList(list.Name()), dm);
            request->FromXml(item);
        } catch (const rtl::Exception& e) {
            // The import's messages are in code page 1251.
            Fail(r.Line, r.Item + ": " + rtl::AnsiToUtf8(e.Message()));
        }
    }
}

std::string WebPackageStem(int issuer, int branch, rtl::TDateTime created) {
    if (issuer < 0 || issuer > 99999) throw EWebPackageError("the issuer must be a number from 0 to 99999");
    if (branch < 0 || branch > 99) throw EWebPackageError("the branch must be a number from 0 to 99");
    rtl::Word y, mo, d, h, mi, s, ms;
    rtl::DecodeDateTime(created, y, mo, d, h, mi, s, ms);
    return WebPackagePrefix + Digits(issuer, 5) + Digits(branch, 2) + "_" + Digits(y, 4) + Digits(mo, 2) +
           Digits(d, 2) + Digits(h, 2) + Digits(mi, 2) + Digits(s, 2) + Digits(ms, 3);
}

std::string WebPackageXml(const TWebPackageHeader& header, const std::vector<TWebRequest>& requests) {
    rtl::Word y, mo, d, h, mi, s, ms;
    rtl::DecodeDateTime(header.Created, y, mo, d, h, mi, s, ms);
    TXmlNode root("RequestsData");
    root.SetAttribute("PackageId", header.PackageId);
    root.SetAttribute("Emitent", std::to_string(header.Issuer));
    root.SetAttribute("Filial", std::to_string(header.Branch));
    root.SetAttribute("DateTimeCreate", Digits(y, 4) + "-" + Digits(mo, 2) + "-" + Digits(d, 2) + "T" +
                                            Digits(h, 2) + ":" + Digits(mi, 2) + ":" + Digits(s, 2) + "." +
                                            Digits(ms, 3));
    root.SetAttribute("Version", header.Version);
    TXmlNode* list = nullptr;
    for (const TWebRequest& r : requests) {
        if (!list || list->Name() != r.Item + "_LIST") list = &root.NodeNew(r.Item + "_LIST");
        AddItem(*list, r);
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
    WriteXmlElement(out, root, 0);
    return out;
}

TWebPackageHeader NewWebPackageHeader(int issuer, int branch) {
    TWebPackageHeader h;
    h.Issuer = issuer;
    h.Branch = branch;
    h.Created = rtl::Now();
    os::TGUID guid;
    if (os::CreateGUID(guid) != os::S_OK) throw EWebPackageError("no random bytes for a package id");
    h.PackageId = os::GUIDToString(guid);
    h.Version = ServiceVersion;
    return h;
}

std::string MakeWebPackage(const TWebPackageHeader& header, const std::vector<TWebRequest>& requests,
                           const std::string& folder, const std::string& publicKeyHex) {
    const std::string stem = WebPackageStem(header.Issuer, header.Branch, header.Created);
    if (header.PackageId.size() != 38)
        throw EWebPackageError("the package id must be 38 characters, as {GUID}: \"" + header.PackageId +
                               "\"");
    CheckWebRequests(requests);
    if (!fs::is_directory(folder)) throw EWebPackageError("no folder " + folder);
    const std::string name = stem + (publicKeyHex.empty() ? ".zip" : ".dat");
    const std::string target = (fs::path(folder) / name).string();
    if (fs::exists(target)) throw EWebPackageError("the package " + target + " exists already");

    TWorkFolder work(folder);
    const std::string xml = work / (stem + ".xml");
    {
        std::ofstream out(xml, std::ios::binary);
        out << WebPackageXml(header, requests);
        if (!out.flush()) throw EWebPackageError("cannot write " + xml);
    }
    std::string archive;
    ZipFiles({xml}, work / "", WebArchivePassword, archive);
    std::string made = archive;
    if (!publicKeyHex.empty()) {
        made = work / name;
        std::string error;
        bool done = false;
        try {
            done = EncryptFileWithKey(archive, made, publicKeyHex, WebSenderContainer, error);
        } catch (const rtl::EConvertError&) {
            error = "the public key is not hexadecimal text";
        }
        if (!done) throw EWebPackageError("cannot encrypt the package: " + error);
    }
    // link() refuses an existing name, so a package that appeared meanwhile is not replaced.
    if (::link(made.c_str(), target.c_str()) != 0)
        throw EWebPackageError("cannot put the package in place as " + target + ": " + std::strerror(errno));
    return target;
}

}  // namespace svc
