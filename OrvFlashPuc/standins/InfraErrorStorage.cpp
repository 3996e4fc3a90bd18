#include "standins/InfraErrorStorage.h"

#include <algorithm>

namespace Infra {
namespace {

// Every description carries this base text; what callers want is in message.
constexpr const char* kBaseText = "Message not specified";

}  // namespace

ErrorStorage::ErrorStorage() : std::runtime_error(kBaseText), com{0, GUID_NULL} {}

ErrorStorage::ErrorStorage(const GUID& iid, long hr, std::wstring_view text)
    : std::runtime_error(kBaseText), com{static_cast<std::int32_t>(hr), iid} {
    SetMessage(text);
}

ErrorStorage::ErrorStorage(const wchar_t* name, unsigned int code, std::wstring_view text)
    : std::runtime_error(kBaseText), isNamed(true), named{name, code} {
    SetMessage(text);
}

ErrorStorage::ErrorStorage(const ErrorStorage& other) : ErrorStorage() {
    *this = other;
}

ErrorStorage& ErrorStorage::operator=(const ErrorStorage& other) {
    if (this == &other) {
        return *this;
    }
    // The source's message may fill its whole array without a terminator: never read past it.
    const wchar_t* end = std::find(other.message, other.message + kMessageCapacity, L'\0');
    SetMessage({other.message, end});
    isNamed = other.isNamed;
    if (isNamed) {
        named = other.named;
    } else {
        com = other.com;
    }
    return *this;
}

void ErrorStorage::SetMessage(std::wstring_view text) {
    const std::size_t length = std::min(text.size(), kMessageCapacity - 1);
    std::copy_n(text.data(), length, message);
    std::fill(message + length, message + kMessageCapacity, L'\0');
}

}  // namespace Infra
