#include "dataaccess/oracle/OraCall.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "dataaccess/core/DAServices.h"
#include "dataaccess/oracle/OraError.h"
#include "platform/rtl/DynLib.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Threads.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// Entry table

void OCINotLinked() {
    throw rtl::Exception("OCI function is not linked");
}

namespace {

template <class R, class... A>
R NotLinkedStub(A...) {
    OCINotLinked();
}

template <class R, class... A>
constexpr auto StubFor(R (*)(A...)) {
    return &NotLinkedStub<R, A...>;
}

template <class F>
constexpr F StubOf() {
    return StubFor(static_cast<F>(nullptr));
}

void UntypedStub() {
    OCINotLinked();
}

}  // namespace

#define DAC_OCI_ENTRY_DEF_T(name) decltype(&::name) name = StubOf<decltype(&::name)>();
#define DAC_OCI_ENTRY_DEF_S(name, type) type name = StubOf<type>();
#define DAC_OCI_ENTRY_DEF_U(name) TOCIProc name = &UntypedStub;
DAC_OCI7_ENTRIES(DAC_OCI_ENTRY_DEF_T, DAC_OCI_ENTRY_DEF_S, DAC_OCI_ENTRY_DEF_U)
DAC_OCI8_ENTRIES(DAC_OCI_ENTRY_DEF_T, DAC_OCI_ENTRY_DEF_S, DAC_OCI_ENTRY_DEF_U)
DAC_OCI_OBJECT_ENTRIES(DAC_OCI_ENTRY_DEF_T, DAC_OCI_ENTRY_DEF_S, DAC_OCI_ENTRY_DEF_U)
DAC_OCI81_ENTRIES(DAC_OCI_ENTRY_DEF_T, DAC_OCI_ENTRY_DEF_S, DAC_OCI_ENTRY_DEF_U)
DAC_OCI90_ENTRIES(DAC_OCI_ENTRY_DEF_T, DAC_OCI_ENTRY_DEF_S, DAC_OCI_ENTRY_DEF_U)
DAC_OCI100_ENTRIES(DAC_OCI_ENTRY_DEF_T, DAC_OCI_ENTRY_DEF_S, DAC_OCI_ENTRY_DEF_U)

TOraMTSSvcGet OraMTSSvcGet = StubOf<TOraMTSSvcGet>();
TOraMTSSvcRel OraMTSSvcRel = StubOf<TOraMTSSvcRel>();
TOraMTSEnlCtxGet OraMTSEnlCtxGet = StubOf<TOraMTSEnlCtxGet>();
TOraMTSJoinTxn OraMTSJoinTxn = StubOf<TOraMTSJoinTxn>();
TOraMTSEnlCtxRel OraMTSEnlCtxRel = StubOf<TOraMTSEnlCtxRel>();
TOraMTSSvcEnlist OraMTSSvcEnlist = StubOf<TOraMTSSvcEnlist>();

namespace {

// How the loader reaches one entry: bind it to an address, or put its stub back.
struct TEntrySlot {
    TOCIEntryInfo Info;
    void (*Bind)(void* address);
    void (*Reset)();
};

template <class F>
void BindCell(F& cell, void* address) {
    static_assert(sizeof(F) == sizeof(void*));
    std::memcpy(&cell, &address, sizeof cell);
}

// sqllda and sqlld2 start empty rather than at the stub.
bool StartsEmpty(const char* name) {
    return std::strcmp(name, "sqllda") == 0 || std::strcmp(name, "sqlld2") == 0;
}

bool FromSecondLibrary(const char* name) {
    return std::strcmp(name, "OCIPStreamFromXMLType") == 0 || std::strcmp(name, "OCIPStreamRead") == 0 ||
           std::strcmp(name, "OCIPStreamClose") == 0;
}

#define DAC_SLOT_T(name)                                                                           \
    {{#name, group, FromSecondLibrary(#name), [] { return name == StubOf<decltype(&::name)>(); }}, \
     [](void* a) { BindCell(name, a); },                                                           \
     [] { name = StubOf<decltype(&::name)>(); }},
#define DAC_SLOT_S(name, type)                                                        \
    {{#name, group, FromSecondLibrary(#name), [] { return name == StubOf<type>(); }}, \
     [](void* a) { BindCell(name, a); },                                              \
     [] { name = StubOf<type>(); }},
#define DAC_SLOT_U(name)                                                                               \
    {{#name, group, FromSecondLibrary(#name), [] { return name == nullptr || name == &UntypedStub; }}, \
     [](void* a) { BindCell(name, a); },                                                               \
     [] { name = StartsEmpty(#name) ? nullptr : &UntypedStub; }},

// Kept for the whole run: the unloader at program end still needs it.
const std::vector<TEntrySlot>& Slots() {
    static const std::vector<TEntrySlot>& slots = *[] {
        std::vector<TEntrySlot> v;
        auto add = [&v](std::initializer_list<TEntrySlot> list) { v.insert(v.end(), list); };
        {
            constexpr TOCIEntryGroup group = egOCI7;
            add({DAC_OCI7_ENTRIES(DAC_SLOT_T, DAC_SLOT_S, DAC_SLOT_U)});
        }
        {
            constexpr TOCIEntryGroup group = egOCI8;
            add({DAC_OCI8_ENTRIES(DAC_SLOT_T, DAC_SLOT_S, DAC_SLOT_U)});
        }
        {
            constexpr TOCIEntryGroup group = egObjects;
            add({DAC_OCI_OBJECT_ENTRIES(DAC_SLOT_T, DAC_SLOT_S, DAC_SLOT_U)});
        }
        {
            constexpr TOCIEntryGroup group = egOCI81;
            add({DAC_OCI81_ENTRIES(DAC_SLOT_T, DAC_SLOT_S, DAC_SLOT_U)});
        }
        {
            constexpr TOCIEntryGroup group = egOCI90;
            add({DAC_OCI90_ENTRIES(DAC_SLOT_T, DAC_SLOT_S, DAC_SLOT_U)});
        }
        {
            constexpr TOCIEntryGroup group = egOCI100;
            add({DAC_OCI100_ENTRIES(DAC_SLOT_T, DAC_SLOT_S, DAC_SLOT_U)});
        }
        return new std::vector<TEntrySlot>(std::move(v));
    }();
    return slots;
}

// sqllda and sqlld2 start empty.
[[maybe_unused]] const bool entriesPreset = [] {
    sqllda = nullptr;
    sqlld2 = nullptr;
    return true;
}();

}  // namespace

const std::vector<TOCIEntryInfo>& OCIEntries() {
    static const std::vector<TOCIEntryInfo> infos = [] {
        std::vector<TOCIEntryInfo> v;
        for (const auto& s : Slots()) v.push_back(s.Info);
        return v;
    }();
    return infos;
}

// ---------------------------------------------------------------------------------------------
// Process-wide state

AnsiString OCIDLLPath;
AnsiString OCIClientDLLPath;
AnsiString OracleHomeDir;
AnsiString OracleHomeName;
TOracleHome OracleHomes[MaxOracleHomes];
int OracleHomeCount = 0;
int DefaultOracleHome = -1;
AnsiString OCIVersionText;
uint16_t OCIVersion = 0;
TOCICallStyleSet OCICapabilities;
TOCICallStyle OCIDefaultCallStyle = ocsNone;
bool OCILite = false;
OCIEnv* OCIEnvHandle = nullptr;
bool OCIInitialized = false;

bool OCIThreaded = true;
bool OCIMutexed = true;
bool OCIShared = false;
bool OCIEvents = true;
uint16_t OCIEventsVersion = 10200;
bool OCIUnicode = false;
bool OCIObjectSupport = true;
int OCIMaxErrorMessageSize = 1024;

namespace {

rtl::HMODULE hOCI = nullptr;
rtl::HMODULE hOCIClient = nullptr;
bool ociBound = false;
bool oci7Threaded = false;
std::vector<TOracleHome> configuredHomes;

rtl::TCriticalSection& InitLock() {
    static auto* cs = new rtl::TCriticalSection;
    return *cs;
}

// Per-thread error handles. They live in the environment; FreeOCIEnvironment frees them all
// and starts a new generation, after which a thread makes a fresh one.
std::mutex errorHandlesLock;
std::unordered_set<OCIError*> errorHandles;
unsigned errorGeneration = 0;

struct TThreadErrorHandle {
    OCIError* Handle = nullptr;
    unsigned Generation = 0;
    ~TThreadErrorHandle() {
        std::lock_guard<std::mutex> g(errorHandlesLock);
        if (Handle && Generation == errorGeneration && errorHandles.erase(Handle)) {
            OCIHandleFree(Handle, OCI_HTYPE_ERROR);
        }
    }
};
thread_local TThreadErrorHandle threadError;

// Allocates the calling thread's error handle; the status of OCIHandleAlloc.
sword AllocThreadErrorHandle() {
    std::lock_guard<std::mutex> g(errorHandlesLock);
    if (threadError.Handle && threadError.Generation == errorGeneration) return OCI_SUCCESS;
    threadError.Handle = nullptr;
    void* h = nullptr;
    sword status = OCIHandleAlloc(OCIEnvHandle, &h, OCI_HTYPE_ERROR, 0, nullptr);
    if (status != OCI_SUCCESS) return status;
    threadError.Handle = static_cast<OCIError*>(h);
    threadError.Generation = errorGeneration;
    errorHandles.insert(threadError.Handle);
    return OCI_SUCCESS;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

AnsiString WithoutTrailingSlash(AnsiString s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

AnsiString DirectoryOf(const AnsiString& path) {
    auto slash = path.rfind('/');
    if (slash == AnsiString::npos) return AnsiString();
    return slash == 0 ? AnsiString("/") : path.substr(0, slash);
}

void AddOracleHome(const TOracleHome& home) {
    if (OracleHomeCount >= MaxOracleHomes) return;
    if (home.Name.empty() || home.Path.empty()) return;
    for (int i = 0; i < OracleHomeCount; ++i)
        if (rtl::SameText(OracleHomes[i].Name, home.Name)) return;
    OracleHomes[OracleHomeCount++] = home;
}

// The first PATH folder that is a home's "lib" folder or the home itself holding the library.
void FindDefaultOracleHome() {
    const char* pathVar = std::getenv("PATH");
    std::string path = pathVar ? pathVar : "";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string part = rtl::Trim(path.substr(start, end - start));
        start = end + 1;
        if (part.empty()) continue;
        if (part.back() != '/') part += '/';
        for (int i = 0; i < OracleHomeCount; ++i) {
            AnsiString home = WithoutTrailingSlash(OracleHomes[i].Path);
            if (part == home + "/lib/" || (part == home + "/" && IsFile(part + OCILibraryName))) {
                DefaultOracleHome = i;
                return;
            }
        }
        if (end == path.size()) break;
    }
}

// The library beneath a home: lib/libclntsh.so, libclntsh.so at the top, else the versioned
// lib/libclntsh.so.<n> with the highest number. Empty when there is none.
AnsiString FindLibraryInHome(const AnsiString& home) {
    for (const AnsiString& candidate : {home + "/lib/" + OCILibraryName, home + "/" + OCILibraryName})
        if (IsFile(candidate)) return candidate;
    AnsiString best;
    long bestVersion = -1;
    if (DIR* d = opendir((home + "/lib").c_str())) {
        const std::string prefix = std::string(OCILibraryName) + ".";
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind(prefix, 0) != 0) continue;
            std::string rest = name.substr(prefix.size());
            if (rest.empty() || !std::isdigit(static_cast<unsigned char>(rest[0]))) continue;
            long v = std::strtol(rest.c_str(), nullptr, 10);
            if (v > bestVersion) {
                bestVersion = v;
                best = home + "/lib/" + name;
            }
        }
        closedir(d);
    }
    return best;
}

}  // namespace

void SetConfiguredOracleHomes(const std::vector<TOracleHome>& homes) {
    configuredHomes = homes;
}

OCIError* OCIErrorHandle() {
    if (!OCIEnvHandle) return nullptr;
    if (AllocThreadErrorHandle() != OCI_SUCCESS) return nullptr;
    return threadError.Handle;
}

void RaiseOCINotFound(const AnsiString& path) {
    RaiseError("Cannot find OCI DLL: " + path);
}

// ---------------------------------------------------------------------------------------------
// Version

uint16_t OCIVersionToNumber(const AnsiString& versionText) {
    AnsiString text = rtl::Trim(versionText);
    unsigned number = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        unsigned value = 0;
        if (pos <= text.size()) {
            size_t dot = text.find('.', pos);
            std::string piece = text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
            bool numeric =
                !piece.empty() && piece.size() <= 4 &&
                std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (numeric) value = static_cast<unsigned>(std::stoul(piece));
            pos = dot == std::string::npos ? text.size() + 1 : dot + 1;
        }
        number = number * 10 + value;
    }
    return static_cast<uint16_t>(number);
}

AnsiString GetOCIClientVersionText(const AnsiString& path) {
    if (!hOCI) hOCI = rtl::LoadLibrary(path);
    if (!hOCI) return AnsiString();
    auto clientVersion = rtl::GetProc<decltype(&::OCIClientVersion)>(hOCI, "OCIClientVersion");
    if (!clientVersion) return AnsiString();
    // The call reports no status: a major version left at 0 means it gave none.
    sword v[5] = {0, 0, 0, 0, 0};
    clientVersion(&v[0], &v[1], &v[2], &v[3], &v[4]);
    if (v[0] <= 0) return AnsiString();
    AnsiString text;
    for (int i = 0; i < 5; ++i) {
        if (i) text += '.';
        text += std::to_string(v[i]);
    }
    return text;
}

const std::vector<const char*>& OCI7LogonEntries() {
    static const std::vector<const char*> names = {"olog", "ologof", "oerhms", "obreak", "opinit"};
    return names;
}

TOCICallStyleSet OCICapabilitiesFor(uint16_t version, const std::function<bool(const char*)>& exports) {
    if (version / 100 == 73) return {ocsOCI7};
    const auto& oci7 = OCI7LogonEntries();
    bool offersOCI7 = std::all_of(oci7.begin(), oci7.end(), [&](const char* name) { return exports(name); });
    return offersOCI7 ? TOCICallStyleSet{ocsOCI7, ocsOCI8} : TOCICallStyleSet{ocsOCI8};
}

// ---------------------------------------------------------------------------------------------
// Detect, load, initialise

void DetectOCI() {
    OracleHomeCount = 0;
    DefaultOracleHome = -1;
    for (const auto& home : configuredHomes) AddOracleHome(home);
    if (OracleHomeCount > 0) FindDefaultOracleHome();

    if (!OCIDLLPath.empty()) {
        OracleHomeDir = DirectoryOf(OCIDLLPath);
        if (OracleHomeDir.size() >= 4 &&
            rtl::SameText(OracleHomeDir.substr(OracleHomeDir.size() - 4), "/lib"))
            OracleHomeDir.erase(OracleHomeDir.size() - 4);
    } else {
        AnsiString homeDir;
        if (!OracleHomeName.empty()) {
            for (int i = 0; i < OracleHomeCount && homeDir.empty(); ++i)
                if (OracleHomes[i].Name == OracleHomeName) homeDir = OracleHomes[i].Path;
            // A configured home may also be given as its folder.
            if (homeDir.empty() && OracleHomeName[0] == '/' && IsDirectory(OracleHomeName))
                homeDir = OracleHomeName;
            if (homeDir.empty()) RaiseOCINotFound("in " + OracleHomeName);
        } else if (DefaultOracleHome >= 0) {
            homeDir = OracleHomes[DefaultOracleHome].Path;
        } else if (const char* env = std::getenv("ORACLE_HOME"); env && *env) {
            homeDir = env;
        }
        if (!homeDir.empty()) {
            homeDir = WithoutTrailingSlash(homeDir);
            OracleHomeDir = homeDir;
            OCIDLLPath = FindLibraryInHome(homeDir);
            if (OCIDLLPath.empty()) {
                if (!OracleHomeName.empty()) RaiseOCINotFound(homeDir + "/lib/*.*");
                OCIDLLPath = OCILibraryName;
            }
        } else {
            OCIDLLPath = OCILibraryName;
        }
    }

    OCILite = false;
    OCIVersionText = GetOCIClientVersionText(OCIDLLPath);
    OCIVersion = OCIVersionToNumber(OCIVersionText);
    if (OCIVersionText.empty()) {
        AnsiString path = OCIDLLPath;
        OCIDLLPath.clear();
        RaiseOCINotFound(path);
    }
    if (OCIVersion / 100 != 73 && OCIVersion < 8000) {
        AnsiString text = OCIVersionText;
        OCIDLLPath.clear();
        RaiseError("OCI version " + text + " is not supported");
    }
    OCICapabilities = OCICapabilitiesFor(
        OCIVersion, [](const char* name) { return hOCI && rtl::GetProcAddress(hOCI, name) != nullptr; });
    if (!OCICapabilities.Contains(ocsOCI8))
        OCIDefaultCallStyle = ocsOCI7;
    else if (OCIDefaultCallStyle == ocsNone)
        OCIDefaultCallStyle = ocsOCI8;
    // The second library: the client itself from 9.0 on (there is no separate one here).
    OCIClientDLLPath = OCIVersion >= 9000 ? OCIDLLPath : AnsiString();
}

bool IsOCILoaded() {
    return hOCI != nullptr && ociBound && (OCIVersion < 9000 || hOCIClient != nullptr);
}

void LoadOCI() {
    DetectOCI();
    if (!hOCI) hOCI = rtl::LoadLibrary(OCIDLLPath);
    if (!hOCI) {
        AnsiString path = OCIDLLPath;
        OCIDLLPath.clear();
        RaiseError("Cannot load OCI DLL: " + path);
    }
    if (OCIVersion >= 9000 && !hOCIClient) {
        hOCIClient = rtl::LoadLibrary(OCIClientDLLPath);
        if (!hOCIClient) {
            AnsiString path = OCIClientDLLPath;
            OCIClientDLLPath.clear();
            RaiseError("Cannot load " + path);
        }
    }
    auto wanted = [](TOCIEntryGroup g) {
        switch (g) {
            case egOCI7:
                return OCICapabilities.Contains(ocsOCI7);
            case egOCI8:
                return OCICapabilities.Contains(ocsOCI8);
            case egObjects:
                return OCICapabilities.Contains(ocsOCI8) && OCIObjectSupport;
            case egOCI81:
                return OCIVersion >= 8100;
            case egOCI90:
                return OCIVersion >= 9000;
            case egOCI100:
                return OCIVersion >= 10000;
        }
        return false;
    };
    for (const auto& slot : Slots()) {
        if (!wanted(slot.Info.Group)) continue;
        rtl::HMODULE lib = slot.Info.FromClientLibrary ? hOCIClient : hOCI;
        void* address = lib ? rtl::GetProcAddress(lib, slot.Info.Name) : nullptr;
        if (address)
            slot.Bind(address);
        else
            slot.Reset();
    }
    ociBound = true;
}

void InitOCI() {
    rtl::TCriticalSectionLock lock(InitLock());
    if (OCIInitialized) return;
    if (!IsOCILoaded()) LoadOCI();
    if (OCICapabilities.Contains(ocsOCI8)) {
        ub4 mode = OCI_OBJECT;
        if (OCIUnicode && OCIVersion >= 9000) mode |= OCI_UTF16;
        if (OCIThreaded && OCIVersion > 8040) mode |= OCI_THREADED;
        if (OCIShared && OCIVersion >= 8140) mode |= OCI_SHARED;
        if (OCIEvents && OCIVersion >= 8140 && OCIVersion >= OCIEventsVersion) mode |= OCI_EVENTS;
        sword status;
        if (OCIVersion >= 8100) {
            if (OCIThreaded && !OCIMutexed) mode |= OCI_NO_MUTEX;
            status = OCIEnvCreate(&OCIEnvHandle, mode, nullptr, nullptr, nullptr, nullptr, 0, nullptr);
        } else {
            status = OCIInitialize(mode, nullptr, nullptr, nullptr, nullptr);
            if (status == OCI_SUCCESS)
                status = OCIEnvInit(&OCIEnvHandle, (OCIThreaded && OCIVersion <= 8140) ? OCI_ENV_NO_MUTEX : 0,
                                    0, nullptr);
        }
        if (status != OCI_SUCCESS) {
            OCIEnvHandle = nullptr;
            throw EOCIInitError("Can't initialize OCI. Error " + std::to_string(status));
        }
        status = AllocThreadErrorHandle();
        if (status != OCI_SUCCESS) {
            OCIHandleFree(OCIEnvHandle, OCI_HTYPE_ENV);
            OCIEnvHandle = nullptr;
            throw EOCIInitError("Can't initialize OCI. Error " + std::to_string(status));
        }
        OCIInitialized = true;
    }
    if (OCICapabilities.Contains(ocsOCI7)) {
        if (OCIThreaded) SetOCI7Threaded(true);
        OCIInitialized = true;
    }
}

void FreeOCIEnvironment() {
    if (OCIInitialized && OCICapabilities.Contains(ocsOCI8) && OCIEnvHandle) {
        {
            std::lock_guard<std::mutex> g(errorHandlesLock);
            for (OCIError* h : errorHandles) OCIHandleFree(h, OCI_HTYPE_ERROR);
            errorHandles.clear();
            ++errorGeneration;
        }
        OCIHandleFree(OCIEnvHandle, OCI_HTYPE_ENV);
        OCIEnvHandle = nullptr;
    }
    OCIInitialized = false;
}

void FreeOCI() {
    FreeOraMTS();
    FreeOCIEnvironment();
    OCIInitialized = false;
    // Nothing may call into an unloaded library: every entry goes back to its stub.
    for (const auto& slot : Slots()) slot.Reset();
    if (hOCIClient && hOCIClient != hOCI) rtl::FreeLibrary(hOCIClient);
    if (hOCI) rtl::FreeLibrary(hOCI);
    hOCI = nullptr;
    hOCIClient = nullptr;
    ociBound = false;
    oci7Threaded = false;
    OCIDLLPath.clear();
    OCIClientDLLPath.clear();
    OCIVersionText.clear();
    OCIVersion = 0;
    OCIDefaultCallStyle = ocsNone;
    OCICapabilities = {};
    OracleHomeDir.clear();
}

namespace {

rtl::TCriticalSection& MTSLock() {
    static auto* cs = new rtl::TCriticalSection;
    return *cs;
}
rtl::HMODULE hOraMTS = nullptr;

// Frees the client at program end.
struct TOCIUnloader {
    ~TOCIUnloader() {
        try {
            FreeOCI();
        } catch (...) {
        }
    }
} ociUnloader;

}  // namespace

void InitOraMTS() {
    rtl::TCriticalSectionLock lock(MTSLock());
    if (hOraMTS) return;
    // The distributed-transaction library exists only on Windows.
    AnsiString path = DirectoryOf(OCIDLLPath) + "/oramts.dll";
    hOraMTS = rtl::LoadLibrary(path);
    if (!hOraMTS) RaiseError("Can not find " + path);
    auto bind = [](auto& cell, const char* name) {
        if (void* a = rtl::GetProcAddress(hOraMTS, name)) BindCell(cell, a);
    };
    bind(OraMTSSvcGet, "OraMTSSvcGet");
    bind(OraMTSSvcRel, "OraMTSSvcRel");
    bind(OraMTSEnlCtxGet, "OraMTSEnlCtxGet");
    bind(OraMTSJoinTxn, "OraMTSJoinTxn");
    bind(OraMTSEnlCtxRel, "OraMTSEnlCtxRel");
    bind(OraMTSSvcEnlist, "OraMTSSvcEnlist");
    InitMSDTC();
}

void FreeOraMTS() {
    rtl::TCriticalSectionLock lock(MTSLock());
    if (!hOraMTS) return;
    rtl::FreeLibrary(hOraMTS);
    hOraMTS = nullptr;
    OraMTSSvcGet = StubOf<TOraMTSSvcGet>();
    OraMTSSvcRel = StubOf<TOraMTSSvcRel>();
    OraMTSEnlCtxGet = StubOf<TOraMTSEnlCtxGet>();
    OraMTSJoinTxn = StubOf<TOraMTSJoinTxn>();
    OraMTSEnlCtxRel = StubOf<TOraMTSEnlCtxRel>();
    OraMTSSvcEnlist = StubOf<TOraMTSSvcEnlist>();
    FreeMSDTC();
}

void CheckOCIInitialized() {
    if (OCIDefaultCallStyle != ocsOCI7 && OCIDefaultCallStyle != ocsOCI8)
        RaiseError("OCI is not inizialized");
}

void CheckOCI80() {
    if (OCIDefaultCallStyle != ocsOCI8) RaiseError("Need Oracle 8 Call Interface");
}

void CheckOCI81() {
    if (OCIVersion < 8100) RaiseError("Need Oracle 8i Call Interface");
}

void CheckOCI90() {
    if (OCIVersion < 9000) RaiseError("Need Oracle 9 Call Interface");
}

bool GetOCI7Threaded() {
    return oci7Threaded;
}

void SetOCI7Threaded(bool value) {
    if (!OCICapabilities.Contains(ocsOCI7)) return;
    oci7Threaded = value;
    // Never call into the stub: a client may lack the entry even where OCI 7 was expected.
    if (opinit != StubOf<decltype(&::opinit)>()) opinit(0);
}

// ---------------------------------------------------------------------------------------------
// OCI text

void* StringToOCIText(const AnsiString& text, int& size, bool unicode) {
    if (!unicode) {
        size = static_cast<int>(text.size());
        return const_cast<char*>(text.c_str());
    }
    rtl::WideString w = rtl::AnsiToWide(text);
    auto* copy = new char16_t[w.size() + 1];
    std::memcpy(copy, w.data(), w.size() * sizeof(char16_t));
    copy[w.size()] = 0;
    size = static_cast<int>(w.size() * 2);
    return copy;
}

void FreeOCIText(void* p, bool unicode) {
    if (unicode) delete[] static_cast<char16_t*>(p);
}

AnsiString OCITextToString(const void* p, bool unicode) {
    if (!p) return AnsiString();
    if (!unicode) return AnsiString(static_cast<const char*>(p));
    const auto* w = static_cast<const char16_t*>(p);
    size_t n = 0;
    while (w[n]) ++n;
    return rtl::WideToAnsi(std::u16string_view(w, n));
}

AnsiString OCITextToStringLen(const void* p, int sizeInBytes, bool unicode) {
    if (!p || sizeInBytes <= 0) return AnsiString();
    if (!unicode) return AnsiString(static_cast<const char*>(p), static_cast<size_t>(sizeInBytes));
    return rtl::WideToAnsi(
        std::u16string_view(static_cast<const char16_t*>(p), static_cast<size_t>(sizeInBytes) / 2));
}

bool IsUnicodeEnvironment(OCIEnv* env, OCIError* err) {
    if (OCIVersion < 9000) return false;
    ub1 value = 0;
    CheckOCIStatus(OCIAttrGet(env, OCI_HTYPE_ENV, &value, nullptr, OCI_ATTR_ENV_UTF16, err), false, err);
    return value != 0;
}

}  // namespace dac
