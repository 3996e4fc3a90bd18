#include "os/LibraryLoader.h"

#include <atomic>

namespace orv {
namespace {

class SystemLoader : public ILibraryOpener {
  public:
    std::unique_ptr<LoadedLibrary> Open(const std::string& windowsName) override {
        return LoadFirstOf(LibraryCandidates(windowsName, ExecutableDirectory()));
    }
};

SystemLoader systemLoader;
std::atomic<ILibraryOpener*> currentOpener{&systemLoader};

}  // namespace

std::unique_ptr<LoadedLibrary> LoadLibraryByWindowsName(const std::string& windowsName) {
    return currentOpener.load()->Open(windowsName);
}

void SetLibraryOpener(ILibraryOpener* opener) {
    currentOpener.store(opener != nullptr ? opener : &systemLoader);
}

}  // namespace orv
