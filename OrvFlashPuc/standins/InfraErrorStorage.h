#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "standins/InfraGuid.h"

namespace Infra {

// The description every thrower receives. An error is identified either by an HRESULT and the
// interface that reported it, or by a name and a code; isNamed tells which half of the union holds.
class ErrorStorage : public std::runtime_error {
  public:
    static constexpr std::size_t kMessageCapacity = 1024;  // characters, terminator included

    struct ComIdentity {
        std::int32_t hr;
        GUID iid;
    };
    struct NamedIdentity {
        const wchar_t* name;
        std::uint32_t code;
    };

    ErrorStorage();
    ErrorStorage(const GUID& iid, long hr, std::wstring_view text);
    ErrorStorage(const wchar_t* name, unsigned int code, std::wstring_view text);
    ErrorStorage(const ErrorStorage& other);
    ErrorStorage& operator=(const ErrorStorage& other);

    bool isNamed = false;
    wchar_t message[kMessageCapacity] = {};
    union {
        ComIdentity com;
        NamedIdentity named;
    };

  private:
    void SetMessage(std::wstring_view text);
};

}  // namespace Infra
