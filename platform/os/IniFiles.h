// Private-profile (INI) files: the reading and writing rules of the platform's profile calls,
// behind the `TIniFile` class that Connection.ini and the registry stand-in are read through.
//
// Reading rules (every read looks at the file as it is on disk now):
// - A missing or unreadable file reads as empty: every key is absent and yields its default.
// - The text is in the ANSI code page; a file that starts with a UTF-8 or UTF-16LE byte-order
//   mark is read as Unicode and its names and values come back converted to ANSI.
// - Lines end in CR LF, LF or CR. Blanks and tabs around a line are ignored, and so are empty
//   lines and lines that start with ";". There are no inline comments, escapes or
//   continuation lines: ";" inside a value is part of it.
// - "[name]" opens a section; the name is what lies between "[" and the first "]" (to the end
//   of the line when there is none), without surrounding blanks. Lines before the first
//   section belong to no section and are never read.
// - Any other line is a key: the name before the first "=", the value after it, both without
//   surrounding blanks; a line without "=" is a key with an empty value.
// - One pair of matching double or single quotes around the whole value is removed.
// - Section and key names compare without regard to case (ANSI letters, Cyrillic included).
//   When a name occurs twice, the first occurrence counts; a section that occurs twice is
//   searched in file order.
// - An integer is the value in decimal, or hexadecimal after "$" or "0x"; a value that does not
//   parse, and a missing key, yield the default. A Boolean is an integer, non-zero meaning true.
//
// Writing rewrites the whole file through a temporary beside it that is renamed over it, so a
// reader never sees half a file and a failed write leaves the old one. Every other line, the
// byte-order mark and the line-end style stay as they were; a new file ends its lines in LF.
// A value that the reading rules would change (surrounding blanks, surrounding quotes) is
// written in quotes so that it reads back unchanged; a value holding a line break, and names
// that the rules could not read back, are refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Objects.h"

namespace os {

RTL_EXCEPTION_CLASS(EIniFileException, rtl::Exception);

class TIniFile : public rtl::TObject {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& def) const;
    int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t def) const;
    bool ReadBool(const std::string& section, const std::string& ident, bool def) const;

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& ident) const;
    // Key names of the section (of every section of that name), first occurrences, in file order.
    std::vector<std::string> ReadSection(const std::string& section) const;
    // Section names, first occurrences, in file order.
    std::vector<std::string> ReadSections() const;

    // Failures raise EIniFileException "Unable to write to <file>: <reason>".
    void WriteString(const std::string& section, const std::string& ident, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
    void WriteBool(const std::string& section, const std::string& ident, bool value);
    // Removes every occurrence of the key, so that it reads as absent afterwards.
    void DeleteKey(const std::string& section, const std::string& ident);
    // Removes every section of that name with all its lines.
    void EraseSection(const std::string& section);
    // Writes are immediate; nothing is buffered.
    void UpdateFile() {}

private:
    std::string fileName_;
};

// True when a quoted or plain value of this text reads back as the same text (no line break).
bool IsIniStorableValue(const std::string& value);

}  // namespace os
