// A settings store (the registry stand-in's INI file), an Oracle home and a TNS_ADMIN folder of
// the test's own in a temporary folder, the environment pointing at them for the test's length.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "dataaccess/core/MemData.h"

namespace settingstest {

class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

inline void WriteText(const std::string& file, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dlgset_XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        store_ = dir_ + "/settings.ini";
        home_ = dir_ + "/home";
        tnsAdmin_ = dir_ + "/tns";
        std::filesystem::create_directories(home_);
        std::filesystem::create_directories(tnsAdmin_);
        env_.emplace("DX_REGISTRY", store_);
        homeEnv_.emplace("ORACLE_HOME", home_);
        tnsEnv_.emplace("TNS_ADMIN", tnsAdmin_);
        savedTitle_ = dac::ApplicationTitleProc;
        dac::ApplicationTitleProc = [] { return dac::AnsiString("QelTest"); };
    }
    ~SettingsTest() override {
        dac::ApplicationTitleProc = savedTitle_;
        tnsEnv_.reset();
        homeEnv_.reset();
        env_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::string dir_, store_, home_, tnsAdmin_;
    std::optional<ScopedEnv> env_, homeEnv_, tnsEnv_;
    dac::TApplicationTitleProc savedTitle_ = nullptr;
};

}  // namespace settingstest
