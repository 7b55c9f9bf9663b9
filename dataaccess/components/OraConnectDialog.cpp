// tnsnames.ora reading and the Oracle server enumerator.
#include "dataaccess/components/OraConnectDialog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "dataaccess/oracle/OraCall.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

bool IsNameChar(char c) {
    return c != '(' && c != ')' && c != '=' && c != ',' && c != '#' &&
           !std::isspace(static_cast<unsigned char>(c));
}

bool ContainsText(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return rtl::SameText(n, name); });
}

// Reads one entry at depth 0: names, "=", then a parenthesised value or a bare word. pos is at
// the entry's first character; on return it is behind the entry.
class TnsReader {
public:
    TnsReader(const std::string& text, std::vector<std::string>& names, std::vector<std::string>* ifiles)
        : text_(text), names_(names), ifiles_(ifiles) {}

    void Run() {
        while (SkipBlanks()) {
            if (!ReadEntry()) SkipToNextEntry();
        }
    }

private:
    // Skips blanks and comments; false at the end.
    bool SkipBlanks() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else {
                return true;
            }
        }
        return false;
    }

    bool AtLineStart(size_t p) const { return p == 0 || text_[p - 1] == '\n' || text_[p - 1] == '\r'; }

    std::string ReadName() {
        const size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }

    bool ReadEntry() {
        std::vector<std::string> entryNames;
        for (;;) {
            if (!SkipBlanks()) return false;
            std::string name = ReadName();
            if (name.empty()) return false;
            entryNames.push_back(name);
            if (!SkipBlanks()) return false;
            if (text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (text_[pos_] != '=') return false;
            ++pos_;
            break;
        }
        if (!SkipBlanks()) return false;
        if (text_[pos_] != '(') {
            // A bare value: "IFILE = /path/file.ora".
            const size_t start = pos_;
            while (pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '#') ++pos_;
            std::string value = text_.substr(start, pos_ - start);
            while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
            if (entryNames.size() == 1 && rtl::SameText(entryNames[0], "IFILE")) {
                if (ifiles_ && !value.empty()) ifiles_->push_back(value);
            }
            return true;
        }
        if (!SkipValue()) return false;
        for (const std::string& n : entryNames)
            if (!rtl::SameText(n, "IFILE") && !ContainsText(names_, n)) names_.push_back(n);
        return true;
    }

    // Skips a balanced parenthesised value. A name in the first column while parentheses are
    // still open means the value was broken off: the entry is dropped and reading resumes there.
    bool SkipValue() {
        int depth = 0;
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
                continue;
            }
            if (depth > 0 && IsNameChar(c) && AtLineStart(pos_)) return false;
            ++pos_;
            if (c == '(') ++depth;
            if (c == ')' && --depth == 0) return true;
        }
        return false;
    }

    // After a broken entry: on to the next line that starts with a name in the first column.
    void SkipToNextEntry() {
        while (pos_ < text_.size()) {
            if (AtLineStart(pos_) && IsNameChar(text_[pos_]) && pos_ > lastStart_) {
                lastStart_ = pos_;
                return;
            }
            ++pos_;
        }
    }

    const std::string& text_;
    std::vector<std::string>& names_;
    std::vector<std::string>* ifiles_;
    size_t pos_ = 0;
    size_t lastStart_ = 0;
};

bool ReadText(const std::string& fileName, std::string& text) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

std::string OracleHome() {
    if (const char* env = std::getenv("ORACLE_HOME"); env && *env) return env;
    return OracleHomeDir;
}

}  // namespace

std::vector<std::string> ParseTnsNames(const std::string& text, std::vector<std::string>* ifiles) {
    std::vector<std::string> names;
    TnsReader(text, names, ifiles).Run();
    return names;
}

std::vector<std::string> ReadTnsNamesFile(const std::string& fileName) {
    std::vector<std::string> names;
    std::vector<std::string> pending{fileName};
    std::set<std::string> seen;
    while (!pending.empty()) {
        const std::string file = pending.front();
        pending.erase(pending.begin());
        std::error_code ec;
        const std::string key = std::filesystem::weakly_canonical(file, ec).string();
        if (!seen.insert(ec ? file : key).second) continue;
        std::string text;
        if (!ReadText(file, text)) continue;
        std::vector<std::string> included;
        for (const std::string& n : ParseTnsNames(text, &included))
            if (!ContainsText(names, n)) names.push_back(n);
        for (std::string inc : included) {
            // A relative include is taken from the including file's folder.
            if (!inc.empty() && inc.front() != '/')
                inc = (std::filesystem::path(file).parent_path() / inc).string();
            pending.push_back(inc);
        }
    }
    return names;
}

std::string TnsNamesFileName() {
    if (const char* admin = std::getenv("TNS_ADMIN"); admin && *admin)
        return std::string(admin) + "/tnsnames.ora";
    const std::string home = OracleHome();
    return home.empty() ? std::string() : home + "/network/admin/tnsnames.ora";
}

void TOraServerEnumerator::GetServerList(rtl::TStrings& list) {
    list.Clear();
    std::vector<std::string> names;
    if (const std::string tns = TnsNamesFileName(); !tns.empty()) names = ReadTnsNamesFile(tns);
    std::vector<std::string> databases;
    if (const std::string home = OracleHome(); !home.empty()) {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(home + "/dbs", ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::filesystem::path& p = it->path();
            if (p.extension() == ".db" && it->is_regular_file(ec)) databases.push_back(p.stem().string());
        }
    }
    std::sort(databases.begin(), databases.end());
    for (const std::string& d : databases)
        if (!ContainsText(names, d)) names.push_back(d);
    for (const std::string& n : names) list.Add(n);
}

}  // namespace dac
