#include "FakeLibraryOpener.h"

namespace orv::test {

class FakeLibraryOpener::Library : public CLoadedLibrary {
  public:
    Library(FakeLibraryOpener& owner, Table table) : owner_(owner), table_(std::move(table)) {}
    ~Library() override {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        --owner_.loaded_;
    }
    EntryPoint Find(const char* name) const override {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        owner_.lookups_.push_back(name);
        const auto found = table_.find(name);
        return found == table_.end() ? nullptr : found->second;
    }

  private:
    FakeLibraryOpener& owner_;
    Table table_;
};

void FakeLibraryOpener::Provide(const std::string& windowsName, Table table) {
    std::lock_guard<std::mutex> lock(mutex_);
    tables_[windowsName] = std::move(table);
}

void FakeLibraryOpener::RemoveEntryPoint(const std::string& windowsName,
                                         const std::string& entryPoint) {
    std::lock_guard<std::mutex> lock(mutex_);
    tables_[windowsName].erase(entryPoint);
}

std::unique_ptr<CLoadedLibrary> FakeLibraryOpener::Open(const std::string& windowsName) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(windowsName);
    const auto found = tables_.find(windowsName);
    if (found == tables_.end()) {
        return nullptr;
    }
    ++loaded_;
    return std::make_unique<Library>(*this, found->second);
}

std::vector<std::string> FakeLibraryOpener::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void FakeLibraryOpener::ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

int FakeLibraryOpener::LoadedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return loaded_;
}

std::vector<std::string> FakeLibraryOpener::Lookups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookups_;
}

}  // namespace orv::test
