// Lexer throughput: text and stream input, long literals found with one byte search, long runs
// of symbol characters (each lexeme must cost its own length, not the rest of the run).
#include <benchmark/benchmark.h>

#include <string>

#include "dataaccess/core/CLRClasses.h"
#include "dataaccess/core/CRParser.h"
#include "dataaccess/oracle/OraParser.h"
#include "platform/rtl/Streams.h"

namespace {

using namespace dac;

std::string Script(size_t bytes) {
    const std::string line =
        "select e.empno, e.ename, d.dname, 12.5 * e.sal total from scott.emp e, dept d "
        "where e.deptno = d.deptno and e.ename like 'A%' -- note\n";
    std::string out;
    while (out.size() < bytes) out += line;
    return out;
}

int64_t Drain(TParser& p) {
    std::string lexem;
    int64_t n = 0;
    while (p.GetNext(lexem) != lxEnd) ++n;
    return n;
}

void BM_OraLexerText(benchmark::State& state) {
    const std::string text = Script(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        TOraParser p(text);
        benchmark::DoNotOptimize(Drain(p));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_OraLexerText)->Arg(1 << 16)->Arg(1 << 20);

void BM_SQLLexerStream(benchmark::State& state) {
    const std::string text = Script(static_cast<size_t>(state.range(0)));
    rtl::TMemoryStream stream;
    stream.Write(text.data(), static_cast<int64_t>(text.size()));
    for (auto _ : state) {
        stream.SetPosition(0);
        TSQLParser p(&stream, nullptr);
        benchmark::DoNotOptimize(Drain(p));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_SQLLexerStream)->Arg(1 << 20);

void BM_LongStringLiteral(benchmark::State& state) {
    const std::string text = "'" + std::string(static_cast<size_t>(state.range(0)), 'x') + "'";
    for (auto _ : state) {
        TSQLParser p(text);
        benchmark::DoNotOptimize(Drain(p));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_LongStringLiteral)->Arg(1 << 20);

void BM_SymbolRun(benchmark::State& state) {
    const std::string text(static_cast<size_t>(state.range(0)), '(');
    for (auto _ : state) {
        TParser p(text);
        benchmark::DoNotOptimize(Drain(p));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SymbolRun)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity(benchmark::oN);

}  // namespace
BENCHMARK_MAIN();
