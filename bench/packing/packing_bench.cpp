// Packing a 20 MB result file beside raw DEFLATE of its serialised text, and parsing it
// beside pugixml, in the same run. Throughputs count the bytes of the source file.
#include <benchmark/benchmark.h>

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

void BM_PackXmlFile(benchmark::State& state) {
  Fixture& f = Data();
  for (auto _ : state) {
    if (vemtu::packing::PackXmlFile(f.source, f.packed) != 1) state.SkipWithError("packing failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
}

void BM_RawDeflateOfSerializedText(benchmark::State& state) {
  Fixture& f = Data();
  for (auto _ : state) {
    vemtu::packing::DataBuffer out;
    if (!vemtu::packing::DeflateRaw(f.serialized, out)) state.SkipWithError("deflate failed");
    benchmark::DoNotOptimize(out.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
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
BENCHMARK(BM_PackXmlFile)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_RawDeflateOfSerializedText)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_ParseLoadXml)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_ParsePugixml)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
