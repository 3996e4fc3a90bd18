#include "ExpectedInfraErrors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <typeinfo>

#include "platform/InfraExceptions.h"

namespace orv::test {
namespace {

using Infra::ErrorStorage;
using Thrower = Infra::ExceptionFactory::Thrower;

void ExpectSameDescription(const ErrorStorage& raised, const ErrorStorage& error) {
    EXPECT_STREQ(raised.what(), "Message not specified");
    EXPECT_EQ(std::wstring(raised.message), std::wstring(error.message));
    ASSERT_EQ(raised.isNamed, error.isNamed);
    if (error.isNamed) {
        EXPECT_EQ(raised.named.name, error.named.name);
        EXPECT_EQ(raised.named.code, error.named.code);
    } else {
        EXPECT_EQ(raised.com.hr, error.com.hr);
        EXPECT_EQ(raised.com.iid, error.com.iid);
    }
}

template <class Base>
void ExpectCaughtAs(Thrower thrower, const ErrorStorage& error) {
    try {
        thrower(error);
        ADD_FAILURE() << "the thrower returned";
    } catch (const Base&) {
    } catch (...) {
        ADD_FAILURE() << "not caught as " << typeid(Base).name();
    }
}

template <class Exception, class... Bases>
void ExpectRaises(Thrower thrower, const ErrorStorage& error) {
    try {
        thrower(error);
        ADD_FAILURE() << "the thrower returned";
    } catch (const Exception& raised) {
        EXPECT_EQ(typeid(raised), typeid(Exception));
        ExpectSameDescription(raised, error);
    } catch (...) {
        ADD_FAILURE() << "not raised as " << typeid(Exception).name();
    }
    (ExpectCaughtAs<Bases>(thrower, error), ...);
}

template <class Exception>
constexpr auto kComError = ExpectRaises<Exception, Infra::ExceptionCOM, Infra::ExceptionBase,
                                        ErrorStorage, std::runtime_error, std::exception>;

constexpr const char* kNull = "00000000-0000-0000-0000-000000000000";
constexpr const char* kBinding = "8EA19E03-6B04-475D-8AB5-FD78B3C1DF54";
constexpr const char* kMoniker = "0000000F-0000-0000-C000-000000000046";

}  // namespace

const std::vector<ExpectedInfraError> kExpectedInfraErrors = {
    {"AccessDenied", kNull, 0x80070005, kComError<Infra::AccessDenied>},
    {"BindingAlreadyRegistered", kBinding, 0x80040200, kComError<Infra::BindingAlreadyRegistered>},
    {"BindingRegistrationRevoked", kBinding, 0x80040201,
     kComError<Infra::BindingRegistrationRevoked>},
    {"ElevationRequired", kNull, 0x800702E4, kComError<Infra::ElevationRequired>},
    {"InternalError", nullptr, 1,
     ExpectRaises<Infra::InternalError, Infra::ExceptionBase, ErrorStorage, std::runtime_error,
                  std::exception>},
    {"InvalidArg", kNull, 0x80070057, kComError<Infra::InvalidArg>},
    {"MonikerIntermediateUnsupported", kMoniker, 0x800401E7,
     kComError<Infra::MonikerIntermediateUnsupported>},
    {"MonikerNoObject", kMoniker, 0x800401E5, kComError<Infra::MonikerNoObject>},
    {"MonikerSyntax", kMoniker, 0x800401E4, kComError<Infra::MonikerSyntax>},
    {"NoInterface", kNull, 0x80004002, kComError<Infra::NoInterface>},
    {"NotImplemented", kNull, 0x80004001, kComError<Infra::NotImplemented>},
    {"OutOfMemory", kNull, 0x8007000E, kComError<Infra::OutOfMemory>},
    {"Pointer", kNull, 0x80004003, kComError<Infra::Pointer>},
    {"Unexpected", kNull, 0x8000FFFF, kComError<Infra::Unexpected>},
};

std::string GuidText(const Infra::GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1,
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

void ExpectFactoryHoldsTheTable() {
    const auto entries = Infra::ExceptionFactory::Entries();
    ASSERT_EQ(entries.size(), kExpectedInfraErrors.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ExpectedInfraError& expected = kExpectedInfraErrors[i];
        const Infra::ExceptionFactory::Key& key = entries[i].key;
        SCOPED_TRACE(expected.className);
        EXPECT_EQ(key.code, expected.code);
        EXPECT_NE(entries[i].thrower, nullptr);
        if (expected.iid == nullptr) {
            EXPECT_TRUE(key.isNamed);
            EXPECT_FALSE(key.name.has_value());
        } else {
            EXPECT_FALSE(key.isNamed);
            EXPECT_EQ(GuidText(key.iid), expected.iid);
        }
    }
}

}  // namespace orv::test
