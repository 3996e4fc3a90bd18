#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/LibraryLoader.h"

namespace orv::test {

// Stands in for the dynamic loader while alive: hands out in-process tables of entry points
// under Windows library names, and remembers what was asked for and what is still loaded.
class FakeLibraryOpener : public ILibraryOpener {
  public:
    using Table = std::map<std::string, EntryPoint>;

    FakeLibraryOpener() { SetLibraryOpener(this); }
    ~FakeLibraryOpener() override { SetLibraryOpener(nullptr); }
    FakeLibraryOpener(const FakeLibraryOpener&) = delete;
    FakeLibraryOpener& operator=(const FakeLibraryOpener&) = delete;

    void Provide(const std::string& windowsName, Table table);
    void RemoveEntryPoint(const std::string& windowsName, const std::string& entryPoint);

    std::unique_ptr<CLoadedLibrary> Open(const std::string& windowsName) override;

    std::vector<std::string> Requests() const;
    void ClearRequests();
    int LoadedCount() const;
    // Entry points looked up so far, in order.
    std::vector<std::string> Lookups() const;

  private:
    class Library;
    mutable std::mutex mutex_;
    std::map<std::string, Table> tables_;
    std::vector<std::string> requests_;
    std::vector<std::string> lookups_;
    int loaded_ = 0;
};

template <typename Function>
EntryPoint AsEntryPoint(Function function) {
    return reinterpret_cast<EntryPoint>(function);
}

}  // namespace orv::test
