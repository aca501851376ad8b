// Packing a 20 MB result file beside raw DEFLATE of its serialised text (both over the
// wall clock), and parsing it beside pugixml, in the same run. Throughputs count the
// bytes of the source file.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <string>

#include "packing/raw_deflate.h"
#include "packing/tree_zipping.h"
#include "packing/xml_document.h"
#include "result_file.h"

namespace {

constexpr std::size_t kFileBytes = 20u << 20;

struct Fixture {
  std::string text = MakeResultFile(kFileBytes);
  std::string serialized;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "vemtu_packing_bench";
  std::string source = (dir / "result.xml").string();
  std::string packed = (dir / "result.zip").string();

  Fixture() {
    std::filesystem::create_directories(dir);
    std::ofstream(source, std::ios::binary) << text;
    vemtu::packing::XmlDocument document;
    document.LoadXml(text, true);
    vemtu::packing::StringBuffer out;
    document.Serialize(out);
    serialized.assign(out.view());
  }
  ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

// Runs `body` once per iteration and reports bytes_per_second over the wall-clock time:
// packing compresses on a second thread, which the CPU time of this one leaves out.
template <typename Body>
void RunWallTimed(benchmark::State& state, std::size_t bytes, Body body) {
  double seconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    body();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  if (seconds > 0) {
    state.counters["bytes_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(bytes) / seconds);
  }
}

void BM_PackXmlFile(benchmark::State& state) {
  Fixture& f = Data();
  RunWallTimed(state, f.text.size(), [&] {
    if (vemtu::packing::PackXmlFile(f.source, f.packed) != 1) state.SkipWithError("packing failed");
  });
}

void BM_RawDeflateOfSerializedText(benchmark::State& state) {
  Fixture& f = Data();
  RunWallTimed(state, f.text.size(), [&] {
    vemtu::packing::DataBuffer out;
    if (!vemtu::packing::DeflateRaw(f.serialized, out)) state.SkipWithError("deflate failed");
    benchmark::DoNotOptimize(out.size());
  });
}

void BM_ParseLoadXml(benchmark::State& state) {
  Fixture& f = Data();
  for (auto _ : state) {
    vemtu::packing::XmlDocument document;
    if (!document.LoadXml(f.text, true)) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
}

void BM_ParsePugixml(benchmark::State& state) {
  Fixture& f = Data();
  for (auto _ : state) {
    pugi::xml_document document;
    if (!document.load_buffer(f.text.data(), f.text.size())) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
}

// One element whose text is N bytes of "&" (each written as "&amp;") beside the same
// size of plain letters, packed from memory: time per byte must stay flat as N grows.
void PackOneText(benchmark::State& state, char fill) {
  const std::string text = "<a>" + std::string(static_cast<std::size_t>(state.range(0)), fill) + "</a>";
  const std::string packed = (Data().dir / "text.zip").string();
  for (auto _ : state) {
    if (vemtu::packing::PackXmlString(text, packed) != 1) state.SkipWithError("packing failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
void BM_PackAmpersands(benchmark::State& state) { PackOneText(state, '&'); }
void BM_PackPlainText(benchmark::State& state) { PackOneText(state, 'a'); }

BENCHMARK(BM_PackAmpersands)->RangeMultiplier(4)->Range(1 << 18, 1 << 22)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackPlainText)->RangeMultiplier(4)->Range(1 << 18, 1 << 22)->Unit(benchmark::kMillisecond);
// No modifiers that change the names: scripts/bench.sh looks these two up by name.
BENCHMARK(BM_PackXmlFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawDeflateOfSerializedText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLoadXml)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_ParsePugixml)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
