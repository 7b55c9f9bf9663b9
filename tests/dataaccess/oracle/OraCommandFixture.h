// A connected session on a stand-in database and the helpers the command tests share: commands,
// rows fetched as text, and spies that wrap single entries of the client's entry table.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OraFixture.h"
#include "dataaccess/oracle/OraClasses.h"

class OraCommandTest : public OraTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A command on the session with the text set.
    std::unique_ptr<dac::TOCICommand> Command(const dac::AnsiString& sql);
    // Prepares, binds and executes sql once with its parameters set by set.
    void Run(const dac::AnsiString& sql, const std::function<void(dac::TOCICommand&)>& set = {});
    // Every row of the executed query of command, each value as text ("<null>" for NULL, numbers
    // as %.15g, dates as YYYY-MM-DD HH:MM:SS, RAW as hex), fetched block rows at a time.
    std::vector<std::vector<std::string>> FetchAll(dac::TOCICommand& command, int block = 25);
    std::vector<std::vector<std::string>> Query(const dac::AnsiString& sql, int block = 25);

    std::unique_ptr<dac::TOCIConnection> conn_;
};

// Replaces one entry of the client's entry table for its lifetime.
template <class Fn>
class EntrySwap {
public:
    EntrySwap(Fn& entry, Fn replacement) : entry_(entry), saved_(entry) { entry_ = replacement; }
    ~EntrySwap() { entry_ = saved_; }
    EntrySwap(const EntrySwap&) = delete;
    EntrySwap& operator=(const EntrySwap&) = delete;
    Fn Saved() const { return saved_; }

private:
    Fn& entry_;
    Fn saved_;
};

// What OCIBindByName was called with, call by call.
struct BindCall {
    std::string placeholder;
    sb4 size;
    ub2 type;
    bool value;
    ub4 maxElements;
    ub4 mode;
};
class BindSpy {
public:
    BindSpy();
    ~BindSpy();
    std::vector<BindCall> Calls;

private:
    std::unique_ptr<EntrySwap<decltype(dac::OCIBindByName)>> swap_;
};
