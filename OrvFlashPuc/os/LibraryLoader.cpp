#include "os/LibraryLoader.h"

#include <atomic>

namespace orv {
namespace {

// Where an installation keeps the card libraries, relative to the tool's folder; the build
// configuration fixes it from the install directories.
constexpr const char* kPrivateLibraryFolder = ORV_PRIVATE_LIBRARY_FOLDER;

class SystemLoader : public LibraryOpener {
  public:
    std::unique_ptr<LoadedLibrary> Open(const std::string& windowsName) override {
        return LoadFirstOf(
            LibraryCandidates(windowsName, ExecutableDirectory(), kPrivateLibraryFolder));
    }
};

SystemLoader systemLoader;
std::atomic<LibraryOpener*> currentOpener{&systemLoader};

}  // namespace

std::unique_ptr<LoadedLibrary> LoadLibraryByWindowsName(const std::string& windowsName) {
    return currentOpener.load()->Open(windowsName);
}

void SetLibraryOpener(LibraryOpener* opener) {
    currentOpener.store(opener != nullptr ? opener : &systemLoader);
}

}  // namespace orv
