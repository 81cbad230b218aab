// The settings load on files no save of ours writes: a 20 MB line before the section, and 20 MB
// of lines in other sections. Both must load in time that does not grow with the lookups.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "settings/settings_table.h"

namespace {

void BM_LoadSettings(benchmark::State& state) {
  std::string junk;
  if (state.range(0) == 0) {
    junk = std::string(20u << 20, 'x') + "\r\n";
  } else {
    junk = "[Other]\r\n";
    while (junk.size() < (20u << 20)) junk += "SomeOtherProgramsKey=some value of its own\r\n";
  }
  const std::string folder = "/tmp/", base = "lv_settings_bench";
  const std::string path = folder + base + ".ini";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  const std::string text = junk + "[PluginSettings]\r\nMode=2\r\n";
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  IniStore store;
  store.SetLocation(folder, base);
  AnalysisSettings stored{}, live{};
  int32_t x = 0, y = 0;
  for (auto _ : state) {
    LoadSettingsSequence(store, stored, live, x, y);
    if (live.Mode != 2) state.SkipWithError("not read");
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_LoadSettings)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
