#pragma once

#include <memory>
#include <string>
#include <vector>

// Run-time loading of the closed card driver libraries by the name they carry on Windows
// ("nican.dll", "CANAPI.DLL"). On Windows the loader's own search order finds it; elsewhere a
// name is tried as given and as lib + lower-case stem + .so, first beside the executable, then
// in the installed private library folder relative to it, then
// through the dynamic linker's own search.
namespace orv {

using EntryPoint = void (*)();

class LoadedLibrary {
  public:
    virtual ~LoadedLibrary() = default;
    // Null when the library has no such entry point.
    virtual EntryPoint Find(const char* name) const = 0;
};

class LibraryOpener {
  public:
    virtual ~LibraryOpener() = default;
    // Null when no library of that name can be loaded.
    virtual std::unique_ptr<LoadedLibrary> Open(const std::string& windowsName) = 0;
};

// Loads through the current opener (the dynamic loader unless a test installed another).
std::unique_ptr<LoadedLibrary> LoadLibraryByWindowsName(const std::string& windowsName);

// Installs an opener for the whole process; nullptr restores the dynamic loader.
void SetLibraryOpener(LibraryOpener* opener);

// The directory of the running program; empty when unknown.
std::string ExecutableDirectory();

// The files tried for a Windows library name, in order; bare names go to the loader's search.
// privateFolder is relative to executableDirectory; empty leaves that folder out.
std::vector<std::string> LibraryCandidates(const std::string& windowsName,
                                           const std::string& executableDirectory,
                                           const std::string& privateFolder = "");

// The first of the files that the system's loader can load, or null.
std::unique_ptr<LoadedLibrary> LoadFirstOf(const std::vector<std::string>& candidates);

// Looks an entry point up and gives it its real type; false when it is missing.
template <typename Function>
bool BindEntryPoint(const LoadedLibrary& library, const char* name, Function& out) {
    out = reinterpret_cast<Function>(library.Find(name));
    return out != nullptr;
}

}  // namespace orv
