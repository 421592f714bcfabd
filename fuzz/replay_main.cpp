// Stand-in for libFuzzer's driver: runs every file named on the command line, or found under a named directory,
// through the fuzz target once. With --all-accepted, an input that the target refuses (one that is not UTF-8) fails
// the run instead of being passed over, so that a corpus of real files is checked whole.
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVANE_REPLAY_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(ZORVANE_REPLAY_SANITIZED)
#define ZORVANE_REPLAY_SANITIZED 1
#endif
#ifdef ZORVANE_REPLAY_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The input being run, named when the run dies on it: a failed check aborts, and a sanitizer ends the process.
char g_current[4096];

void name_current_input() {
    if (g_current[0] == '\0') return;
    const char prefix[] = "fuzz_replay: the run ended on ";
    // Only async-signal-safe calls: this runs from a signal handler.
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, prefix, sizeof prefix - 1);
    written = write(STDERR_FILENO, g_current, std::strlen(g_current));
    written = write(STDERR_FILENO, "\n", 1);
}

extern "C" void on_abort(int signal_number) {
    name_current_input();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

enum class Replayed { accepted, refused, unreadable };

Replayed replay(const std::filesystem::path& path) {
    std::ifstream file{path, std::ios::binary};
    if (!file) {
        std::fprintf(stderr, "fuzz_replay: cannot read %s\n", path.c_str());
        return Replayed::unreadable;
    }
    std::string bytes{std::istreambuf_iterator<char>{file}, std::istreambuf_iterator<char>{}};
    // A heap copy of exactly the input's size, so that a sanitizer sees any read past its end.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    const std::string name = path.string();
    const std::size_t length = std::min(name.size(), sizeof g_current - 1);
    std::memcpy(g_current, name.data(), length);
    g_current[length] = '\0';
    const int status = LLVMFuzzerTestOneInput(data.data(), data.size());
    g_current[0] = '\0';
    return status == 0 ? Replayed::accepted : Replayed::refused;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGABRT, on_abort);
#ifdef ZORVANE_REPLAY_SANITIZED
    __sanitizer_set_death_callback(name_current_input);
#endif
    bool all_accepted = false;
    std::vector<std::filesystem::path> files;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg{argv[i]};
        if (arg == "--all-accepted") {
            all_accepted = true;
            continue;
        }
        const std::filesystem::path path{arg};
        std::error_code ec;
        if (!std::filesystem::is_directory(path, ec)) {
            files.push_back(path);
            continue;
        }
        std::vector<std::filesystem::path> found;
        for (auto it = std::filesystem::recursive_directory_iterator{path, ec};
             !ec && it != std::filesystem::recursive_directory_iterator{}; it.increment(ec))
            if (std::error_code kind; it->is_regular_file(kind)) found.push_back(it->path());
        if (ec) {
            std::fprintf(stderr, "fuzz_replay: cannot list %s: %s\n", path.c_str(), ec.message().c_str());
            ok = false;
        }
        // Sorted, so that a failure reproduces in the same order on every machine.
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }

    std::size_t replayed = 0;
    std::size_t refused = 0;
    for (const auto& f : files) {
        switch (replay(f)) {
            case Replayed::accepted:
                ++replayed;
                break;
            case Replayed::refused:
                ++replayed;
                ++refused;
                if (all_accepted) {
                    std::fprintf(stderr, "fuzz_replay: the fuzz target refused %s (not UTF-8)\n", f.c_str());
                    ok = false;
                }
                break;
            case Replayed::unreadable:
                ok = false;
                break;
        }
    }
    std::printf("fuzz_replay: %zu inputs replayed, %zu of them refused as not UTF-8\n", replayed, refused);
    // Nothing to replay means a path given wrongly, not a pass.
    if (replayed == 0) {
        std::fprintf(stderr, "fuzz_replay: no inputs\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
