// Amount conversions as every grid cell and every result text uses them.
#include "base/convert.h"

#include <benchmark/benchmark.h>

namespace {

void BM_ToNumber_Amount(benchmark::State& state) {
    const iit::Text amount = iit::Text::fromBytes("12345.67");
    for (auto _ : state)
        benchmark::DoNotOptimize(iit::ToNumber(amount));
}
BENCHMARK(BM_ToNumber_Amount);

void BM_ToNumber_FullWidth(benchmark::State& state) {
    const iit::Text amount = iit::Text::fromUtf8("１２３４５．６７元");
    for (auto _ : state)
        benchmark::DoNotOptimize(iit::ToNumber(amount));
}
BENCHMARK(BM_ToNumber_FullWidth);

void BM_ToText_Amount(benchmark::State& state) {
    double v = 12345.67;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(iit::ToText(v));
    }
}
BENCHMARK(BM_ToText_Amount);

void BM_Round_Amount(benchmark::State& state) {
    double v = 8044.444;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(iit::Round(v, 2));
    }
}
BENCHMARK(BM_Round_Amount);

} // namespace
