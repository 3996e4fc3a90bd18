// Runs a fuzz target over its corpus without libFuzzer, so that every build flavour replays the
// seeds and past findings: each argument is an input file or a directory of them.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::set<std::filesystem::path> files;  // in order, so that a run repeats
    for (int i = 1; i < argc; ++i)
        if (std::filesystem::is_directory(argv[i]))
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                files.insert(entry.path());
        else
            files.insert(argv[i]);
    for (const std::filesystem::path& file : files) {
        std::ifstream stream(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
        if (!stream)
            return std::fprintf(stderr, "cannot read %s\n", file.c_str()), 1;
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;  // a corpus gone missing must not pass as a clean run
}
