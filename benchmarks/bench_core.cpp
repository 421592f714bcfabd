// Times the native parser alone over one file (best of N runs, in MB/s), or lists which files parse.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "parser/entry.hpp"

namespace {

constexpr const char* usage =
    "usage: bench_core FILE [RUNS]      parse FILE RUNS times (default 5) and print the best run in MB/s\n"
    "       bench_core --accepts FILE...  print each FILE that parses, one per line\n";

std::optional<std::string> read_file(const char* path) {
    std::ifstream in{path, std::ios::binary};
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return std::move(text).str();
}

std::size_t count_instructions(zorvane::ast::FileRef file) {
    std::size_t n = 0;
    file.functions().for_each([&n](zorvane::ast::FunctionRef function) { n += function.body().instructions().size(); });
    return n;
}

int list_accepted(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        auto text = read_file(argv[i]);
        if (!text) continue;
        try {
            if (zorvane::parser::parse_program(*text).value) std::printf("%s\n", argv[i]);
        } catch (const std::exception&) {
            // An internal failure (a number out of range) means the file is not accepted; it is not a benchmark fault.
        }
    }
    return 0;
}

int time_file(const char* path, int runs) {
    auto text = read_file(path);
    if (!text) {
        std::fprintf(stderr, "bench_core: cannot read %s\n", path);
        return 2;
    }
    const double megabytes = static_cast<double>(text->size()) / 1e6;
    double best = 0;
    double best_cpu = 0;
    std::size_t functions = 0;
    std::size_t instructions = 0;
    std::size_t tree_bytes = 0;
    for (int run = 1; run <= runs; ++run) {
        const std::clock_t cpu_start = std::clock();
        const auto start = std::chrono::steady_clock::now();
        auto outcome = zorvane::parser::parse_program(*text);
        const auto stop = std::chrono::steady_clock::now();
        const std::clock_t cpu_stop = std::clock();
        if (!outcome.value) {
            std::fprintf(stderr, "bench_core: %s does not parse: %s\n", path,
                         outcome.error ? outcome.error->text().c_str() : "no error text");
            return 1;
        }
        // Reading the tree keeps the parse from being optimised away; freeing it happens outside the timed span.
        functions = outcome.value->root().functions().size();
        instructions = count_instructions(outcome.value->root());
        tree_bytes = outcome.value->capacity();
        const double seconds = std::chrono::duration<double>(stop - start).count();
        // Processor time leaves out the time other processes held the processor, which matters on a shared machine.
        const double cpu_seconds = static_cast<double>(cpu_stop - cpu_start) / CLOCKS_PER_SEC;
        std::printf("run %d: %.6f s, %.1f MB/s (processor time %.6f s)\n", run, seconds, megabytes / seconds,
                    cpu_seconds);
        best = run == 1 ? seconds : std::min(best, seconds);
        best_cpu = run == 1 ? cpu_seconds : std::min(best_cpu, cpu_seconds);
    }
    std::printf("input: %zu bytes, %zu functions, %zu instructions; the tree holds %zu bytes (%.1f per instruction)\n",
                text->size(), functions, instructions, tree_bytes,
                instructions == 0 ? 0.0 : static_cast<double>(tree_bytes) / static_cast<double>(instructions));
    // The last line is for scripts.
    std::printf("bench_core bytes=%zu runs=%d best_seconds=%.6f best_cpu_seconds=%.6f mb_per_s=%.2f tree_bytes=%zu\n",
                text->size(), runs, best, best_cpu, megabytes / best, tree_bytes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string{argv[1]} == "--accepts") return list_accepted(argc, argv);
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        std::fputs(usage, stderr);
        return 2;
    }
    int runs = 5;
    if (argc == 3) {
        char* end = nullptr;
        const long n = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || n < 1 || n > 1000) {
            std::fputs(usage, stderr);
            return 2;
        }
        runs = static_cast<int>(n);
    }
    try {
        return time_file(argv[1], runs);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_core: internal failure: %s\n", e.what());
        return 3;
    }
}
