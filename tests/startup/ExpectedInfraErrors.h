#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <typeinfo>
#include <vector>

#include "standins/InfraExceptionFactory.h"
#include "standins/InfraExceptions.h"

namespace orv::test {

using Infra::ErrorStorage;
using Thrower = Infra::ExceptionFactory::Thrower;

// Raises through the thrower: exactly E arrives, with its message. How the description is
// copied is proven by the platform tests of the error storage.
template <class E>
void ExpectRaises(Thrower thrower, const ErrorStorage& error) {
    try {
        thrower(error);
        ADD_FAILURE() << "the thrower returned";
    } catch (const E& raised) {
        EXPECT_EQ(typeid(raised), typeid(E));
        EXPECT_EQ(std::wstring(raised.message), std::wstring(error.message));
    } catch (...) {
        ADD_FAILURE() << "not raised as " << typeid(E).name();
    }
}

struct ExpectedInfraError {
    const char* className;
    const char* iid;  // nullptr: the name form with a null name
    std::uint32_t code;
    void (*expectRaises)(Thrower thrower, const ErrorStorage& error);
};

constexpr const char* kNull = "00000000-0000-0000-0000-000000000000";
constexpr const char* kBinding = "8EA19E03-6B04-475D-8AB5-FD78B3C1DF54";
constexpr const char* kMoniker = "0000000F-0000-0000-C000-000000000046";

// The registration table as the tool must hold it, in order.
inline const std::vector<ExpectedInfraError> kExpectedInfraErrors = {
    {"AccessDenied", kNull, 0x80070005, ExpectRaises<Infra::AccessDenied>},
    {"BindingAlreadyRegistered", kBinding, 0x80040200,
     ExpectRaises<Infra::BindingAlreadyRegistered>},
    {"BindingRegistrationRevoked", kBinding, 0x80040201,
     ExpectRaises<Infra::BindingRegistrationRevoked>},
    {"ElevationRequired", kNull, 0x800702E4, ExpectRaises<Infra::ElevationRequired>},
    {"InternalError", nullptr, 1, ExpectRaises<Infra::InternalError>},
    {"InvalidArg", kNull, 0x80070057, ExpectRaises<Infra::InvalidArg>},
    {"MonikerIntermediateUnsupported", kMoniker, 0x800401E7,
     ExpectRaises<Infra::MonikerIntermediateUnsupported>},
    {"MonikerNoObject", kMoniker, 0x800401E5, ExpectRaises<Infra::MonikerNoObject>},
    {"MonikerSyntax", kMoniker, 0x800401E4, ExpectRaises<Infra::MonikerSyntax>},
    {"NoInterface", kNull, 0x80004002, ExpectRaises<Infra::NoInterface>},
    {"NotImplemented", kNull, 0x80004001, ExpectRaises<Infra::NotImplemented>},
    {"OutOfMemory", kNull, 0x8007000E, ExpectRaises<Infra::OutOfMemory>},
    {"Pointer", kNull, 0x80004003, ExpectRaises<Infra::Pointer>},
    {"Unexpected", kNull, 0x8000FFFF, ExpectRaises<Infra::Unexpected>},
};

inline std::string GuidText(const Infra::GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// The factory holds exactly the table's keys in its order, and each thrower raises its class.
inline void ExpectFactoryHoldsTheTable() {
    const auto entries = Infra::ExceptionFactory::Entries();
    ASSERT_EQ(entries.size(), kExpectedInfraErrors.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ExpectedInfraError& expected = kExpectedInfraErrors[i];
        const Infra::ExceptionFactory::Key& key = entries[i].key;
        SCOPED_TRACE(expected.className);
        EXPECT_EQ(key.code, expected.code);
        EXPECT_EQ(key.isNamed, expected.iid == nullptr);
        EXPECT_EQ(key.isNamed ? "" : GuidText(key.iid), expected.iid ? expected.iid : "");
        const std::string name = expected.className;
        const std::wstring text = std::wstring(name.begin(), name.end()) + L" raised";
        if (key.isNamed) {
            EXPECT_FALSE(key.name.has_value());
            expected.expectRaises(entries[i].thrower, ErrorStorage(nullptr, key.code, text));
        } else {
            expected.expectRaises(entries[i].thrower, ErrorStorage(key.iid, key.code, text));
        }
    }
}

}  // namespace orv::test
