#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "standins/InfraErrorStorage.h"
#include "standins/InfraGuid.h"

namespace Infra {

// Turns an error description into the typed exception registered for its identity. Several
// modules may register the same table, so a known key keeps its first place and one thrower.
class ExceptionFactory {
  public:
    using Thrower = void (*)(const ErrorStorage& error);

    // Identity of one entry. Names compare by their text; a null name is a key of its own.
    struct Key {
        bool isNamed = false;
        GUID iid{};
        std::optional<std::wstring> name;
        std::uint32_t code = 0;  // the HRESULT in the GUID form

        bool operator==(const Key&) const = default;
    };
    struct Entry {
        Key key;
        Thrower thrower = nullptr;
    };

    // A later registration of a known key replaces its thrower.
    static void Register(const GUID& interface, long hresult, Thrower thrower);
    static void Register(const wchar_t* name, unsigned int code, Thrower thrower);

    // In the order of their first registration.
    static std::vector<Entry> Entries();

    // Raises the exception registered for the error's identity, or ExceptionBase for an
    // unknown one.
    [[noreturn]] static void Throw(const ErrorStorage& error);
};

}  // namespace Infra
