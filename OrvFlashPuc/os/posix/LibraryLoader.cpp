#include "os/LibraryLoader.h"

#include <dlfcn.h>

#include <cctype>
#include <filesystem>
#include <system_error>

namespace orv {
namespace {

class SharedObject : public LoadedLibrary {
  public:
    explicit SharedObject(void* handle) : handle_(handle) {}
    ~SharedObject() override { dlclose(handle_); }
    SharedObject(const SharedObject&) = delete;
    SharedObject& operator=(const SharedObject&) = delete;

    EntryPoint Find(const char* name) const override {
        return reinterpret_cast<EntryPoint>(dlsym(handle_, name));
    }

  private:
    void* handle_;
};

}  // namespace

std::string ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

std::vector<std::string> LibraryCandidates(const std::string& windowsName,
                                           const std::string& executableDirectory,
                                           const std::string& privateFolder) {
    std::string stem = std::filesystem::path(windowsName).stem().string();
    for (char& c : stem) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::string names[] = {windowsName, "lib" + stem + ".so"};
    std::vector<std::string> candidates;
    if (!executableDirectory.empty()) {
        for (const std::string& name : names) {
            candidates.push_back(executableDirectory + "/" + name);
        }
        if (!privateFolder.empty()) {
            for (const std::string& name : names) {
                candidates.push_back(executableDirectory + "/" + privateFolder + "/" + name);
            }
        }
    }
    for (const std::string& name : names) {
        candidates.push_back(name);
    }
    return candidates;
}

std::unique_ptr<LoadedLibrary> LoadFirstOf(const std::vector<std::string>& candidates) {
    for (const std::string& candidate : candidates) {
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return std::make_unique<SharedObject>(handle);
        }
    }
    return nullptr;
}

}  // namespace orv
