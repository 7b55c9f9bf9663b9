// Private-profile files: parsing into lines, lookups by the reading rules, and line-preserving
// rewrites.
#include "platform/os/IniFiles.h"

#include <cstring>
#include <mutex>

#include "platform/os/AtomicFile.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace os {

namespace {

enum class TTextForm { Ansi, Utf8Bom, Utf16Bom };

const std::string kUtf8Bom = "\xEF\xBB\xBF";
const std::string kUtf16Bom = "\xFF\xFE";

// One line of the file. raw is the line as stored (without its end), in ANSI for an ANSI file
// and in UTF-8 for a Unicode one; name and value are the ANSI text the rules read from it.
struct TIniLine {
    enum TKind { Other, Section, Key };
    std::string raw;
    TKind kind = Other;
    std::string name;
    std::string upperName;
    std::string value;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

std::string Unquote(std::string_view v) {
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

std::string UpperName(const std::string& name) {
    return rtl::AnsiUpperCase(name);
}

class TIniDocument {
public:
    static TIniDocument Load(const std::string& fileName) {
        std::string bytes;
        TIniDocument doc;
        if (ReadFileContents(fileName, bytes) == 0) doc.Parse(bytes);
        return doc;
    }

    // Index of the line holding the key, or -1.
    int FindKey(const std::string& section, const std::string& ident) const {
        std::string s = UpperName(section), k = UpperName(ident);
        bool inSection = false;
        for (size_t i = 0; i < lines_.size(); ++i) {
            const TIniLine& l = lines_[i];
            if (l.kind == TIniLine::Section)
                inSection = l.upperName == s;
            else if (inSection && l.kind == TIniLine::Key && l.upperName == k)
                return static_cast<int>(i);
        }
        return -1;
    }

    const TIniLine& Line(int index) const { return lines_[static_cast<size_t>(index)]; }

    // Names of the sections (section empty) or of the keys of a section, first occurrences.
    std::vector<std::string> Names(const std::string* section) const {
        std::vector<std::string> names, seen;
        std::string s = section ? UpperName(*section) : std::string();
        bool inSection = false;
        for (const TIniLine& l : lines_) {
            if (l.kind == TIniLine::Section) inSection = section && l.upperName == s;
            bool wanted = section ? inSection && l.kind == TIniLine::Key : l.kind == TIniLine::Section;
            if (!wanted || Contains(seen, l.upperName)) continue;
            seen.push_back(l.upperName);
            names.push_back(l.name);
        }
        return names;
    }

    bool HasSection(const std::string& section) const {
        std::string s = UpperName(section);
        for (const TIniLine& l : lines_)
            if (l.kind == TIniLine::Section && l.upperName == s) return true;
        return false;
    }

    void SetValue(const std::string& section, const std::string& ident, const std::string& value) {
        std::string text = IniText(value);
        int at = FindKey(section, ident);
        if (at >= 0) {
            TIniLine& l = lines_[static_cast<size_t>(at)];
            l = MakeLine(ToStored(l.name) + "=" + ToStored(text));
            return;
        }
        std::string keyLine = ToStored(ident) + "=" + ToStored(text);
        int end = SectionEnd(section);
        if (end >= 0) {
            lines_.insert(lines_.begin() + end, MakeLine(keyLine));
            return;
        }
        if (!lines_.empty() && !TrimBlanks(lines_.back().raw).empty()) lines_.push_back(MakeLine(""));
        lines_.push_back(MakeLine("[" + ToStored(section) + "]"));
        lines_.push_back(MakeLine(keyLine));
    }

    // Removes every line of the key (ident given) or of every section of that name (ident null).
    bool Remove(const std::string& section, const std::string* ident) {
        std::string s = UpperName(section), k = ident ? UpperName(*ident) : std::string();
        bool inSection = false, removed = false;
        std::vector<TIniLine> kept;
        for (TIniLine& l : lines_) {
            if (l.kind == TIniLine::Section) inSection = l.upperName == s;
            bool drop = inSection && (!ident || (l.kind == TIniLine::Key && l.upperName == k));
            removed |= drop;
            if (!drop) kept.push_back(std::move(l));
        }
        lines_ = std::move(kept);
        return removed;
    }

    std::string Serialize() const {
        std::string text;
        for (size_t i = 0; i < lines_.size(); ++i) {
            text += lines_[i].raw;
            if (i + 1 < lines_.size() || finalLineEnd_) text += lineEnd_;
        }
        switch (form_) {
            case TTextForm::Ansi:
                return text;
            case TTextForm::Utf8Bom:
                return kUtf8Bom + text;
            case TTextForm::Utf16Bom:
                break;
        }
        std::u16string wide = rtl::Utf8ToWide(text);
        std::string bytes = kUtf16Bom;
        for (char16_t u : wide) {
            bytes += static_cast<char>(u & 0xFF);
            bytes += static_cast<char>(u >> 8);
        }
        return bytes;
    }

private:
    static bool Contains(const std::vector<std::string>& list, const std::string& s) {
        for (const std::string& x : list)
            if (x == s) return true;
        return false;
    }

    void Parse(const std::string& bytes) {
        std::string text;
        if (bytes.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) {
            form_ = TTextForm::Utf8Bom;
            text = bytes.substr(kUtf8Bom.size());
        } else if (bytes.compare(0, kUtf16Bom.size(), kUtf16Bom) == 0) {
            form_ = TTextForm::Utf16Bom;
            std::u16string wide;
            for (size_t i = 2; i + 1 < bytes.size(); i += 2)
                wide += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                              static_cast<uint8_t>(bytes[i + 1]) << 8);
            text = rtl::WideToUtf8(wide);
        } else {
            text = bytes;
        }
        size_t start = 0;
        bool endSeen = false;
        while (start < text.size()) {
            size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) {
                lines_.push_back(MakeLine(text.substr(start)));
                finalLineEnd_ = false;
                return;
            }
            size_t next = end + 1;
            if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
            if (!endSeen) lineEnd_ = text.substr(end, next - end);
            endSeen = true;
            lines_.push_back(MakeLine(text.substr(start, end - start)));
            start = next;
        }
        finalLineEnd_ = true;
    }

    // Stored bytes of ANSI text, and ANSI text of stored bytes.
    std::string ToStored(const std::string& ansi) const {
        return form_ == TTextForm::Ansi ? ansi : rtl::AnsiToUtf8(ansi);
    }
    std::string ToAnsi(std::string_view stored) const {
        return form_ == TTextForm::Ansi ? std::string(stored) : rtl::Utf8ToAnsi(stored);
    }

    TIniLine MakeLine(std::string raw) const {
        TIniLine l;
        l.raw = std::move(raw);
        std::string_view t = TrimBlanks(l.raw);
        if (t.empty() || t.front() == ';') return l;
        if (t.front() == '[') {
            size_t close = t.find(']');
            l.kind = TIniLine::Section;
            l.name = ToAnsi(TrimBlanks(t.substr(1, close == std::string_view::npos ? t.npos : close - 1)));
        } else {
            size_t eq = t.find('=');
            l.kind = TIniLine::Key;
            l.name = ToAnsi(TrimBlanks(t.substr(0, eq)));
            if (eq != std::string_view::npos) l.value = Unquote(ToAnsi(TrimBlanks(t.substr(eq + 1))));
        }
        l.upperName = UpperName(l.name);
        return l;
    }

    // Where a new key of the section goes: after the last non-empty line of its first
    // occurrence; -1 when the section does not exist.
    int SectionEnd(const std::string& section) const {
        std::string s = UpperName(section);
        int found = -1;
        for (size_t i = 0; i < lines_.size(); ++i) {
            const TIniLine& l = lines_[i];
            if (l.kind == TIniLine::Section) {
                if (found >= 0) break;
                if (l.upperName == s) found = static_cast<int>(i) + 1;
            } else if (found >= 0 && !TrimBlanks(l.raw).empty()) {
                found = static_cast<int>(i) + 1;
            }
        }
        return found;
    }

    // The text to store so that the reading rules give value back.
    static std::string IniText(const std::string& value) {
        if (value.empty()) return value;
        bool needsQuotes = IsBlank(value.front()) || IsBlank(value.back()) ||
                           (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front());
        return needsQuotes ? "\"" + value + "\"" : value;
    }

    std::vector<TIniLine> lines_;
    TTextForm form_ = TTextForm::Ansi;
    std::string lineEnd_ = "\n";
    bool finalLineEnd_ = true;
};

// Writes of this process are serialised, so that two writers cannot lose each other's change.
std::mutex& WriteLock() {
    static std::mutex lock;
    return lock;
}

[[noreturn]] void Unwritable(const std::string& fileName, const std::string& reason) {
    throw EIniFileException("Unable to write to " + fileName + ": " + reason);
}

bool IsNameText(const std::string& name, const char* forbidden) {
    if (name.empty() || IsBlank(name.front()) || IsBlank(name.back())) return false;
    return name.find_first_of(forbidden) == std::string::npos && name.find('\0') == std::string::npos;
}

void CheckSectionName(const std::string& fileName, const std::string& section) {
    if (!IsNameText(section, "]\r\n")) Unwritable(fileName, "invalid section name '" + section + "'");
}

void CheckKeyName(const std::string& fileName, const std::string& ident) {
    if (!IsNameText(ident, "=\r\n") || ident.front() == ';' || ident.front() == '[')
        Unwritable(fileName, "invalid key name '" + ident + "'");
}

template <class Change>
void Rewrite(const std::string& fileName, Change change) {
    std::lock_guard<std::mutex> hold(WriteLock());
    TIniDocument doc = TIniDocument::Load(fileName);
    if (!change(doc)) return;
    if (int error = ReplaceFileContents(fileName, doc.Serialize()))
        Unwritable(fileName, std::strerror(error));
}

}  // namespace

bool IsIniStorableValue(const std::string& value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& def) const {
    TIniDocument doc = TIniDocument::Load(fileName_);
    int at = doc.FindKey(section, ident);
    return at < 0 ? def : doc.Line(at).value;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& ident, int32_t def) const {
    std::string text = ReadString(section, ident, std::string());
    return text.empty() ? def : rtl::StrToIntDef(text, def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident, bool def) const {
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const std::string& section) const {
    return TIniDocument::Load(fileName_).HasSection(section);
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
    return TIniDocument::Load(fileName_).FindKey(section, ident) >= 0;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
    return TIniDocument::Load(fileName_).Names(&section);
}

std::vector<std::string> TIniFile::ReadSections() const {
    return TIniDocument::Load(fileName_).Names(nullptr);
}

void TIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
    CheckSectionName(fileName_, section);
    CheckKeyName(fileName_, ident);
    if (!IsIniStorableValue(value)) Unwritable(fileName_, "a value cannot hold a line break");
    Rewrite(fileName_, [&](TIniDocument& doc) {
        doc.SetValue(section, ident, value);
        return true;
    });
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
    WriteString(section, ident, rtl::IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    Rewrite(fileName_, [&](TIniDocument& doc) { return doc.Remove(section, &ident); });
}

void TIniFile::EraseSection(const std::string& section) {
    Rewrite(fileName_, [&](TIniDocument& doc) { return doc.Remove(section, nullptr); });
}

}  // namespace os
