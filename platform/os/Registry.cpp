// The registry stand-in over an INI file.
#include "platform/os/Registry.h"

#include <cstdlib>

#include "platform/os/IniFiles.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace os {

namespace {

const char* RootName(HKEY root) {
    switch (root) {
        case HKEY_CLASSES_ROOT:
            return "HKEY_CLASSES_ROOT";
        case HKEY_CURRENT_USER:
            return "HKEY_CURRENT_USER";
        case HKEY_LOCAL_MACHINE:
            return "HKEY_LOCAL_MACHINE";
        case HKEY_USERS:
            return "HKEY_USERS";
        case HKEY_CURRENT_CONFIG:
            return "HKEY_CURRENT_CONFIG";
        default:
            return nullptr;
    }
}

// The path's parts without empty ones, joined by "\".
std::string NormalPath(const std::string& path) {
    std::string out, part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\') {
            part += path[i];
            continue;
        }
        if (!part.empty()) out += (out.empty() ? "" : "\\") + part;
        part.clear();
    }
    return out;
}

std::string ValueKey(const std::string& name) {
    return name.empty() ? "@" : name;
}

bool StartsWithText(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           rtl::AnsiUpperCase(text.substr(0, prefix.size())) == rtl::AnsiUpperCase(prefix);
}

}  // namespace

std::string RegistryFileName() {
    const char* v = std::getenv(RegistryFileVariable);
    return v ? std::string(v) : std::string();
}

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    rootKey_ = root;
}

std::string TRegistry::Section(const std::string& path) const {
    const char* root = RootName(rootKey_);
    if (!root) return {};
    return path.empty() ? std::string(root) : std::string(root) + "\\" + path;
}

std::string TRegistry::Resolve(const std::string& key) const {
    if (!key.empty() && key.front() == '\\') return NormalPath(key);
    return NormalPath(open_ ? currentPath_ + "\\" + key : key);
}

// Sections of the key and of every key beneath it.
std::vector<std::string> TRegistry::SectionsBeneath(const std::string& path) const {
    std::vector<std::string> found;
    std::string file = RegistryFileName(), self = Section(path);
    if (file.empty() || self.empty()) return found;
    for (const std::string& s : TIniFile(file).ReadSections()) {
        std::string normal = NormalPath(s);
        if (rtl::AnsiUpperCase(normal) == rtl::AnsiUpperCase(self) || StartsWithText(normal, self + "\\"))
            found.push_back(s);
    }
    return found;
}

bool TRegistry::KeyExists(const std::string& key) const {
    return !SectionsBeneath(Resolve(key)).empty();
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    std::string path = Resolve(key);
    bool exists = !SectionsBeneath(path).empty();
    if (!exists && !(canCreate && !RegistryFileName().empty() && RootName(rootKey_))) return false;
    currentPath_ = path;
    open_ = true;
    readOnly_ = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    if (!OpenKey(key, false)) return false;
    readOnly_ = true;
    return true;
}

void TRegistry::CloseKey() {
    currentPath_.clear();
    open_ = false;
    readOnly_ = false;
}

bool TRegistry::HasSubKeys() const {
    return !GetKeyNames().empty();
}

std::vector<std::string> TRegistry::GetKeyNames() const {
    std::vector<std::string> names;
    std::string self = Section(currentPath_);
    for (const std::string& s : SectionsBeneath(currentPath_)) {
        std::string rest = NormalPath(s);
        if (rest.size() <= self.size()) continue;
        rest = rest.substr(self.size() + 1);
        std::string child = rest.substr(0, rest.find('\\'));
        bool seen = false;
        for (const std::string& n : names) seen |= rtl::AnsiUpperCase(n) == rtl::AnsiUpperCase(child);
        if (!seen) names.push_back(child);
    }
    return names;
}

std::vector<std::string> TRegistry::GetValueNames() const {
    std::vector<std::string> names;
    std::string file = RegistryFileName();
    if (file.empty() || Section(currentPath_).empty()) return names;
    for (std::string& n : TIniFile(file).ReadSection(Section(currentPath_)))
        names.push_back(n == "@" ? "" : n);
    return names;
}

bool TRegistry::ValueExists(const std::string& name) const {
    std::string file = RegistryFileName();
    return !file.empty() && TIniFile(file).ValueExists(Section(currentPath_), ValueKey(name));
}

std::string TRegistry::ReadString(const std::string& name) const {
    std::string file = RegistryFileName();
    if (file.empty()) return {};
    return TIniFile(file).ReadString(Section(currentPath_), ValueKey(name), std::string());
}

int32_t TRegistry::ReadInteger(const std::string& name) const {
    if (!ValueExists(name)) throw ERegistryException("Failed to get data for '" + name + "'");
    int32_t value;
    if (!rtl::TryStrToInt(ReadString(name), value))
        throw ERegistryException("Invalid data type for '" + name + "'");
    return value;
}

void TRegistry::Write(const std::string& name, const std::string& value) {
    std::string file = RegistryFileName();
    if (readOnly_ || file.empty() || Section(currentPath_).empty())
        throw ERegistryException("Failed to set data for '" + name + "'");
    try {
        TIniFile(file).WriteString(Section(currentPath_), ValueKey(name), value);
    } catch (const EIniFileException& e) {
        throw ERegistryException("Failed to set data for '" + name + "': " + e.Message());
    }
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    Write(name, value);
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
    Write(name, rtl::IntToStr(value));
}

bool TRegistry::DeleteValue(const std::string& name) {
    std::string file = RegistryFileName();
    if (readOnly_ || file.empty() || !ValueExists(name)) return false;
    TIniFile(file).DeleteKey(Section(currentPath_), ValueKey(name));
    return true;
}

bool TRegistry::DeleteKey(const std::string& key) {
    std::string file = RegistryFileName();
    std::vector<std::string> sections = SectionsBeneath(Resolve(key));
    if (file.empty() || sections.empty()) return false;
    TIniFile ini(file);
    for (const std::string& s : sections) ini.EraseSection(s);
    return true;
}

}  // namespace os
