// Stand-in for libFuzzer's driver: runs every file named on the command line, or found under a named directory,
// through the fuzz target once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replay(const std::filesystem::path& path) {
    std::ifstream file{path, std::ios::binary};
    if (!file) {
        std::fprintf(stderr, "fuzz_replay: cannot read %s\n", path.c_str());
        return false;
    }
    std::string bytes{std::istreambuf_iterator<char>{file}, std::istreambuf_iterator<char>{}};
    // A heap copy of exactly the input's size, so that a sanitizer sees any read past its end.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg{argv[i]};
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::recursive_directory_iterator{arg, ec})
                if (entry.is_regular_file()) files.push_back(entry.path());
            // Sorted, so that a failure reproduces in the same order on every machine.
            std::sort(files.begin(), files.end());
            for (const auto& f : files) {
                ok = replay(f) && ok;
                ++count;
            }
        } else {
            ok = replay(arg) && ok;
            ++count;
        }
    }
    std::printf("fuzz_replay: %zu inputs replayed\n", count);
    return ok ? 0 : 1;
}
