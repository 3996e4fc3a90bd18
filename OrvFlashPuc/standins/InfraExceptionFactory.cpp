#include "standins/InfraExceptionFactory.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "standins/InfraExceptions.h"

namespace Infra {
namespace {

struct Registry {
    std::mutex lock;
    std::vector<ExceptionFactory::Entry> entries;
};

// Built on first use: registrations arrive from other translation units' static initialisers.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

// Call with the registry locked.
ExceptionFactory::Entry* Find(Registry& registry, const ExceptionFactory::Key& key) {
    auto found =
        std::find_if(registry.entries.begin(), registry.entries.end(),
                     [&](const ExceptionFactory::Entry& entry) { return entry.key == key; });
    return found == registry.entries.end() ? nullptr : &*found;
}

void Add(ExceptionFactory::Key key, ExceptionFactory::Thrower thrower) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    if (ExceptionFactory::Entry* known = Find(registry, key)) {
        known->thrower = thrower;
    } else {
        registry.entries.push_back({std::move(key), thrower});
    }
}

std::optional<std::wstring> NameText(const wchar_t* name) {
    if (name == nullptr) {
        return std::nullopt;
    }
    return std::wstring(name);
}

ExceptionFactory::Key KeyOf(const ErrorStorage& error) {
    if (error.isNamed) {
        return {true, GUID_NULL, NameText(error.named.name), error.named.code};
    }
    return {false, error.com.iid, std::nullopt, static_cast<std::uint32_t>(error.com.hr)};
}

}  // namespace

void ExceptionFactory::Register(const GUID& interface, long hresult, Thrower thrower) {
    Add({false, interface, std::nullopt, static_cast<std::uint32_t>(hresult)}, thrower);
}

void ExceptionFactory::Register(const wchar_t* name, unsigned int code, Thrower thrower) {
    Add({true, GUID_NULL, NameText(name), code}, thrower);
}

std::vector<ExceptionFactory::Entry> ExceptionFactory::Entries() {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    return registry.entries;
}

void ExceptionFactory::Throw(const ErrorStorage& error) {
    const Key key = KeyOf(error);
    Thrower thrower = nullptr;
    {
        Registry& registry = TheRegistry();
        std::lock_guard guard(registry.lock);
        if (const Entry* entry = Find(registry, key)) {
            thrower = entry->thrower;
        }
    }
    if (thrower != nullptr) {
        thrower(error);
    }
    // Reached also when a thrower breaks its contract and returns.
    throw ExceptionBase(error);
}

}  // namespace Infra
