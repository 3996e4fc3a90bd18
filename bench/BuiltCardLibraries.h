#pragma once

#include <cstdlib>
#include <string>

#include "os/LibraryLoader.h"

namespace orv::test {

// Loads the card libraries from the build's cardlibs folder while alive, and lets them reach
// the CAN link given (unset when empty).
class BuiltCardLibraries : public LibraryOpener {
  public:
    explicit BuiltCardLibraries(const std::string& canLink) {
        if (canLink.empty()) {
            unsetenv("ORV_CAN_LINK");
        } else {
            setenv("ORV_CAN_LINK", canLink.c_str(), 1);
        }
        SetLibraryOpener(this);
    }
    ~BuiltCardLibraries() override {
        SetLibraryOpener(nullptr);
        unsetenv("ORV_CAN_LINK");
    }
    BuiltCardLibraries(const BuiltCardLibraries&) = delete;
    BuiltCardLibraries& operator=(const BuiltCardLibraries&) = delete;

    std::unique_ptr<LoadedLibrary> Open(const std::string& windowsName) override {
        const auto candidates = LibraryCandidates(windowsName, ORV_CARDLIBS_DIR);
        return LoadFirstOf({candidates[0], candidates[1]});  // the folder only
    }
};

}  // namespace orv::test
