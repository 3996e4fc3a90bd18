#include "support/TestFiles.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orv::test {

TempDir::TempDir() {
    const std::string pattern = std::filesystem::temp_directory_path() / "orvtest-XXXXXX";
    std::string path = pattern;
    if (mkdtemp(path.data()) == nullptr)
        throw std::runtime_error("no temporary directory could be made");
    path_ = path;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

}  // namespace orv::test
