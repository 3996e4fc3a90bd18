#include "os/LibraryLoader.h"

#include <windows.h>

namespace orv {
namespace {

class DynamicLinkLibrary : public LoadedLibrary {
  public:
    explicit DynamicLinkLibrary(HMODULE module) : module_(module) {}
    ~DynamicLinkLibrary() override { FreeLibrary(module_); }
    DynamicLinkLibrary(const DynamicLinkLibrary&) = delete;
    DynamicLinkLibrary& operator=(const DynamicLinkLibrary&) = delete;

    EntryPoint Find(const char* name) const override {
        return reinterpret_cast<EntryPoint>(GetProcAddress(module_, name));
    }

  private:
    HMODULE module_;
};

}  // namespace

std::string ExecutableDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH) {
        return std::string();
    }
    const std::string exe(path, length);
    const size_t separator = exe.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : exe.substr(0, separator);
}

// The bare name: the loader's own search order starts beside the executable.
std::vector<std::string> LibraryCandidates(const std::string& windowsName,
                                           const std::string& /*executableDirectory*/,
                                           const std::string& /*privateFolder*/) {
    return {windowsName};
}

std::unique_ptr<LoadedLibrary> LoadFirstOf(const std::vector<std::string>& candidates) {
    for (const std::string& candidate : candidates) {
        if (const HMODULE module = LoadLibraryA(candidate.c_str())) {
            return std::make_unique<DynamicLinkLibrary>(module);
        }
    }
    return nullptr;
}

}  // namespace orv
