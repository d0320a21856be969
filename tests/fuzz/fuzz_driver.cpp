// A stand-in for libFuzzer where the compiler has none: replays the corpus, then runs seeded
// mutations of it. Every run is a pure function of the seed and its number, so a failure is
// replayed with the same seed and `--first=N --runs=1`; the failing input is also written to
// crash-<seed>-<run>.bin, which a later run takes as a corpus file.
//
//   core_fuzz [--seed=S] [--runs=N] [--first=N] [--max-len=N] CORPUS_DIR_OR_FILE...
//   (WENDRIX_FUZZ_SEED and WENDRIX_FUZZ_RUNS set the seed and run count too.)
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#if defined(__has_include)
#if __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define WENDRIX_HAVE_DEATH_CALLBACK 1
#endif
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

uint64_t seed = 1;
uint64_t current_run = 0;
bool replaying_corpus = false;
const Bytes* current_input = nullptr;

void SaveCurrent() {
  if (!current_input) return;
  if (replaying_corpus) {
    std::fprintf(stderr, "core_fuzz: failed on corpus input %llu (in the order given)\n",
                 static_cast<unsigned long long>(current_run));
    return;
  }
  const std::string name =
      "crash-" + std::to_string(seed) + "-" + std::to_string(current_run) + ".bin";
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(current_input->data()),
             static_cast<std::streamsize>(current_input->size()));
  std::fprintf(stderr,
               "core_fuzz: failed at run %llu of seed %llu; input in %s\n"
               "  replay: core_fuzz --seed=%llu --first=%llu --runs=1 CORPUS  (or: core_fuzz %s)\n",
               static_cast<unsigned long long>(current_run), static_cast<unsigned long long>(seed),
               name.c_str(), static_cast<unsigned long long>(seed),
               static_cast<unsigned long long>(current_run), name.c_str());
}

void OnAbort(int) {
  SaveCurrent();
  std::_Exit(1);
}

Bytes Mutate(const std::vector<Bytes>& corpus, std::mt19937_64& rng, size_t max_len) {
  Bytes b = corpus.empty() ? Bytes{} : corpus[rng() % corpus.size()];
  const int steps = 1 + static_cast<int>(rng() % 8);
  for (int i = 0; i < steps; ++i) {
    const size_t at = b.empty() ? 0 : rng() % b.size();
    switch (rng() % 7) {
      case 0:  // flip a bit
        if (!b.empty()) b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:  // a random byte
        if (!b.empty()) b[at] = static_cast<uint8_t>(rng());
        break;
      case 2:  // insert bytes
        for (int n = 1 + static_cast<int>(rng() % 8); n > 0; --n)
          b.insert(b.begin() + static_cast<std::ptrdiff_t>(std::min(at, b.size())),
                   static_cast<uint8_t>(rng()));
        break;
      case 3:  // erase bytes
        if (!b.empty())
          b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                  b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + 1 + rng() % 8)));
        break;
      case 4:  // an interesting value
        if (b.size() >= at + 4) {
          static const uint32_t kValues[] = {0,     1,      0xFFFFFFFFu, 0x7FFFFFFF, 0x80000000u,
                                             44100, 0xFFFF, 0x8000,      0x0FFFFFFF, 0x10000000};
          const uint32_t v = kValues[rng() % std::size(kValues)];
          std::memcpy(b.data() + at, &v, 4);
        }
        break;
      case 5:  // splice another corpus entry
        if (!corpus.empty()) {
          const Bytes& other = corpus[rng() % corpus.size()];
          b.insert(b.begin() + static_cast<std::ptrdiff_t>(std::min(at, b.size())), other.begin(),
                   other.end());
        }
        break;
      default:  // truncate
        b.resize(at);
        break;
    }
  }
  if (b.size() > max_len) b.resize(max_len);
  return b;
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t runs = 20000, first = 0;
  size_t max_len = 4096;
  if (const char* s = std::getenv("WENDRIX_FUZZ_SEED")) seed = std::strtoull(s, nullptr, 10);
  if (const char* s = std::getenv("WENDRIX_FUZZ_RUNS")) runs = std::strtoull(s, nullptr, 10);
  std::vector<Bytes> corpus;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      const size_t n = std::strlen(name);
      return arg.compare(0, n, name) == 0 ? arg.c_str() + n : nullptr;
    };
    if (const char* v = value("--seed=")) {
      seed = std::strtoull(v, nullptr, 10);
    } else if (const char* v = value("--runs=")) {
      runs = std::strtoull(v, nullptr, 10);
    } else if (const char* v = value("--first=")) {
      first = std::strtoull(v, nullptr, 10);
    } else if (const char* v = value("--max-len=")) {
      max_len = std::strtoull(v, nullptr, 10);
    } else if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file()) corpus.push_back(ReadFile(entry.path()));
    } else {
      corpus.push_back(ReadFile(arg));
    }
  }
#ifdef WENDRIX_HAVE_DEATH_CALLBACK
  __sanitizer_set_death_callback(SaveCurrent);
#endif
  std::signal(SIGABRT, OnAbort);

  replaying_corpus = true;  // the corpus itself first, as it is
  for (size_t i = 0; i < corpus.size(); ++i) {
    current_run = i;
    current_input = &corpus[i];
    LLVMFuzzerTestOneInput(corpus[i].data(), corpus[i].size());
  }
  replaying_corpus = false;
  for (uint64_t run = first; run < first + runs; ++run) {
    current_run = run;
    std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + run);
    const Bytes input = Mutate(corpus, rng, max_len);
    current_input = &input;
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  current_input = nullptr;
  std::printf("core_fuzz: %zu corpus inputs and %llu generated runs from %llu (seed %llu) passed\n",
              corpus.size(), static_cast<unsigned long long>(runs),
              static_cast<unsigned long long>(first), static_cast<unsigned long long>(seed));
  return 0;
}
