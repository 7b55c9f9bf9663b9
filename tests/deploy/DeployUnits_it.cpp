// The hardened systemd units of deploy/: systemd-analyze verify takes them without a word (an
// unknown or misspelt directive is only warned about, so any output fails), and each keeps its
// dedicated user, a read-only system and write access to its journal, key store and package
// folders.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every value of a directive, in file order (a directive may be given more than once).
std::multimap<std::string, std::string> Directives(const std::string& text) {
    std::multimap<std::string, std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#' || line[0] == '[') continue;
        const auto eq = line.find('=');
        if (eq != std::string::npos) out.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return out;
}

std::string Value(const std::multimap<std::string, std::string>& d, const std::string& key) {
    const auto it = d.find(key);
    return it == d.end() ? "<missing>" : it->second;
}

struct TUnit {
    const char* file;
    const char* program;
    std::vector<std::string> writable;  // folders the service must be able to write
};

}  // namespace

TEST(DeployUnits, HardenedUnitsVerifyCleanAndKeepTheirFoldersWritable) {
    if (::system("command -v systemd-analyze >/dev/null 2>&1") != 0) GTEST_SKIP() << "no systemd-analyze";
    char pattern[] = "/tmp/units_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;

    const TUnit units[] = {
        {"srvZuvQelOutSrvc.service",
         "ZuvQelOutSrvc",
         {"/var/log/zuv/out", "/srv/zuv/export", "/srv/zuv/sharing", "/var/lib/zuv"}},
        {"srvZuvQelInSrvc.service",
         "ZuvQelInSrvc",
         {"/var/log/zuv/in", "/srv/zuv/import", "/srv/zuv/sharing-in", "/var/lib/zuv"}},
    };
    for (const TUnit& u : units) {
        SCOPED_TRACE(u.file);
        const std::string text = ReadAll(DX_SOURCE_DIR "/deploy/" + std::string(u.file));
        const auto d = Directives(text);
        EXPECT_EQ(Value(d, "ExecStart"), "/opt/zuv/bin/" + std::string(u.program));
        EXPECT_EQ(Value(d, "User"), "zuv");
        EXPECT_EQ(Value(d, "Group"), "zuv");
        EXPECT_EQ(Value(d, "ProtectSystem"), "strict");
        EXPECT_EQ(Value(d, "ProtectHome"), "yes");
        EXPECT_EQ(Value(d, "NoNewPrivileges"), "yes");
        EXPECT_EQ(Value(d, "Environment").rfind("ORACLE_HOME=", 0), 0u);
        std::string writable;
        for (auto [it, end] = d.equal_range("ReadWritePaths"); it != end; ++it)
            writable += " " + it->second + " ";
        for (const std::string& folder : u.writable)
            EXPECT_NE(writable.find(" -" + folder + " "), std::string::npos) << folder << " in" << writable;

        // verify wants the program to exist: a copy of the unit names a stub.
        const std::string program = dir + "/" + u.program;
        std::ofstream(program) << "#!/bin/sh\n";
        ::chmod(program.c_str(), 0755);
        std::string copy = text;
        copy.replace(copy.find("/opt/zuv/bin/" + std::string(u.program)), 13 + std::string(u.program).size(),
                     program);
        std::ofstream(dir + "/" + u.file) << copy;
        const std::string command = "cd " + dir + " && systemd-analyze verify --man=no ./" + u.file + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
        const int status = ::pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
        EXPECT_EQ(out, "");
    }
    fs::remove_all(dir);
}
