// Runs a fuzz target over kept inputs without libFuzzer: each argument is a file or a directory of files;
// arguments starting with '-' (libFuzzer options) are ignored, so one command line serves both builds.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void run_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char **argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') continue;
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto &entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) run_file(entry.path()), ++inputs;
        } else {
            run_file(path);
            ++inputs;
        }
    }
    std::printf("%d inputs ran\n", inputs);
    return 0;
}
