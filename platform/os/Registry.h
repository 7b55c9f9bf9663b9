// The registry stand-in: a small read-mostly key store in an INI file that the environment
// variable DX_REGISTRY names. Each key is a section named by its full path under its root, for
// example "[HKEY_LOCAL_MACHINE\SOFTWARE\ORACLE\KEY_OraClient11g_home1]"; the key's values are
// the section's keys ("@" names the default value), integers as decimal text. A key exists when
// its section or a section beneath it does. Names compare without regard to case.
//
// With the variable unset or the file missing every key reads as absent; writing then fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Objects.h"

namespace os {

using HKEY = uintptr_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;

inline constexpr const char* RegistryFileVariable = "DX_REGISTRY";
// The store's file, or "" when none is configured.
std::string RegistryFileName();

RTL_EXCEPTION_CLASS(ERegistryException, rtl::Exception);

class TRegistry : public rtl::TObject {
public:
    TRegistry() = default;

    HKEY RootKey() const { return rootKey_; }
    // Closes the current key.
    void SetRootKey(HKEY root);
    // The open key's path beneath the root ("" for none, or the root itself).
    const std::string& CurrentPath() const { return currentPath_; }

    // A key that starts with "\" is taken from the root, any other from the open key. Without
    // canCreate a missing key fails; with it a missing key opens (given a store to write to) and
    // comes into being with its first value.
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    void CloseKey();

    bool KeyExists(const std::string& key) const;
    bool ValueExists(const std::string& name) const;
    bool HasSubKeys() const;
    std::vector<std::string> GetKeyNames() const;
    std::vector<std::string> GetValueNames() const;

    // A missing value reads as "".
    std::string ReadString(const std::string& name) const;
    // Raises ERegistryException "Failed to get data for '<name>'" when missing and
    // "Invalid data type for '<name>'" when the value is not an integer.
    int32_t ReadInteger(const std::string& name) const;

    // Raise ERegistryException "Failed to set data for '<name>'" when the key is read-only, no
    // store is configured or the file cannot be written.
    void WriteString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int32_t value);
    bool DeleteValue(const std::string& name);
    // Removes the key with every key beneath it.
    bool DeleteKey(const std::string& key);

private:
    std::string Section(const std::string& path) const;
    std::string Resolve(const std::string& key) const;
    std::vector<std::string> SectionsBeneath(const std::string& path) const;
    void Write(const std::string& name, const std::string& value);

    HKEY rootKey_ = HKEY_CURRENT_USER;
    std::string currentPath_;
    bool open_ = false;
    bool readOnly_ = false;
};

}  // namespace os
