// bench/i18n_bench.cpp: what a translated text costs a screen build.
//
// A screen translates every caption each time it is built, so i18n_tr runs a few hundred times
// per rebuild. The table here holds 400 texts of interface length (a finished program's worth),
// read through the real loader from a scratch assets folder.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <benchmark/benchmark.h>

#include "i18n/i18n.hpp"

namespace {

const int kTexts = 400;

std::string text_of(int i) {
    return "Caption number " + std::to_string(i) + " of the options";
}

// Writes assets/lang/fr.json with kTexts entries into a fresh folder and moves there.
bool prepare() {
    char pattern[] = "/tmp/lumikey-bench-XXXXXX";
    if (!mkdtemp(pattern)) return false;
    std::filesystem::create_directories(std::string(pattern) + "/assets/lang");
    std::ofstream out(std::string(pattern) + "/assets/lang/fr.json");
    out << "{\n";
    for (int i = 0; i < kTexts; i++)
        out << "  \"" << text_of(i) << "\": \"Légende numéro " << i << " des options\""
            << (i + 1 < kTexts ? ",\n" : "\n");
    out << "}\n";
    out.close();
    return chdir(pattern) == 0;
}

void BM_TranslatePresentKey(benchmark::State &state) {
    std::string key = text_of(kTexts / 2);
    for (auto _ : state) benchmark::DoNotOptimize(i18n_tr(key.c_str()));
}

void BM_TranslateAbsentKey(benchmark::State &state) {
    std::string key = "A caption the translators have not seen yet";
    for (auto _ : state) benchmark::DoNotOptimize(i18n_tr(key.c_str()));
}

void BM_TranslateWholeScreen(benchmark::State &state) {
    // 60 captions, as a busy screen has; two in ten are missing from the file.
    std::string keys[60];
    for (int i = 0; i < 60; i++)
        keys[i] = i % 5 == 0 ? "Missing caption " + std::to_string(i) : text_of(i * 6);
    for (auto _ : state)
        for (const std::string &key : keys) benchmark::DoNotOptimize(i18n_tr(key.c_str()));
    state.counters["texts"] = 60;
}

BENCHMARK(BM_TranslatePresentKey);
BENCHMARK(BM_TranslateAbsentKey);
BENCHMARK(BM_TranslateWholeScreen);

} // namespace

int main(int argc, char **argv) {
    std::string start = std::filesystem::current_path().string();
    std::string probe = text_of(kTexts - 1);
    if (!prepare() || std::string(i18n_set_language("fr")) != "fr" ||
        i18n_tr(probe.c_str()) == probe.c_str()) {
        fprintf(stderr, "could not load the benchmark's translation table\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    i18n_shutdown();
    std::filesystem::path scratch = std::filesystem::current_path();
    if (chdir(start.c_str()) == 0) std::filesystem::remove_all(scratch);
    return 0;
}
