// The infrastructure library's error record and exception factory.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "standins/InfraErrorStorage.h"
#include "standins/InfraExceptionFactory.h"
#include "standins/InfraExceptions.h"

namespace {

using Infra::ErrorStorage;
using Infra::ExceptionFactory;

Infra::GUID TestIid(std::uint32_t tag) {
    return {tag, 0xFACE, 0xFEED, {9, 9, 9, 9, 9, 9, 9, 9}};
}

// The copy keeps the message and the identity fields that isNamed selects, never stale ones.
TEST(InfraErrorStorage, CopyKeepsTheIdentityThatIsNamedSelects) {
    for (const ErrorStorage& source :
         {ErrorStorage(TestIid(0), 0x80070005, L"denied"),
          ErrorStorage(L"Storage.Full", 42, L"full"), ErrorStorage(nullptr, 1, L"internal")}) {
        ErrorStorage assigned = source.isNamed ? ErrorStorage(TestIid(1), 7, L"old message text")
                                               : ErrorStorage(L"Other", 7, L"old message text");
        assigned = source;
        const ErrorStorage constructed(source);
        for (const ErrorStorage* copy : {&std::as_const(assigned), &constructed}) {
            EXPECT_STREQ(copy->what(), "Message not specified");
            EXPECT_EQ(std::wstring(copy->message), std::wstring(source.message));
            ASSERT_EQ(copy->isNamed, source.isNamed);
            if (source.isNamed)
                EXPECT_EQ(std::make_pair(copy->named.name, copy->named.code),
                          std::make_pair(source.named.name, source.named.code));
            else
                EXPECT_EQ(std::make_pair(copy->com.hr, copy->com.iid),
                          std::make_pair(source.com.hr, source.com.iid));
        }
    }
}

TEST(InfraErrorStorage, MessageKeepsAtMost1023CharactersAndATerminator) {
    for (std::size_t length : {0, 1023, 1024, 2000}) {
        std::wstring text(length, L'a');
        text.replace(0, std::min<std::size_t>(length, 3), std::min<std::size_t>(length, 3), L'b');
        const ErrorStorage error(Infra::GUID_NULL, 1, text);
        EXPECT_EQ(std::wstring(error.message), text.substr(0, 1023)) << length;
        EXPECT_EQ(error.message[ErrorStorage::kMessageCapacity - 1], L'\0');
    }
    ErrorStorage unterminated;
    std::fill(std::begin(unterminated.message), std::end(unterminated.message), L'x');
    EXPECT_EQ(std::wstring(ErrorStorage(unterminated).message), std::wstring(1023, L'x'));
}

// Distinct classes tell which thrower ran. The factory is one per process and never forgets,
// so each test uses keys of its own.
struct RaisedByFirst : Infra::ExceptionBase {
    using ExceptionBase::ExceptionBase;
};
struct RaisedBySecond : Infra::ExceptionBase {
    using ExceptionBase::ExceptionBase;
};
void ThrowFirst(const ErrorStorage& error) {
    throw RaisedByFirst(error);
}
void ThrowSecond(const ErrorStorage& error) {
    throw RaisedBySecond(error);
}

std::string RaisedFor(const ErrorStorage& error) {
    try {
        ExceptionFactory::Throw(error);
    } catch (const RaisedByFirst&) {
        return "first";
    } catch (const RaisedBySecond&) {
        return "second";
    } catch (const Infra::ExceptionBase& raised) {
        EXPECT_EQ(std::wstring(raised.message), std::wstring(error.message));
        return "base";
    }
    return "nothing";
}

// A thrower that returns still ends in an exception.
TEST(InfraExceptionFactory, FindsTheThrowerByTheWholeIdentity) {
    const Infra::GUID iid = TestIid(2);
    const wchar_t registeredName[] = L"Queue.Stalled";
    ExceptionFactory::Register(iid, 0x80000005, ThrowFirst);
    ExceptionFactory::Register(registeredName, 5, ThrowFirst);
    ExceptionFactory::Register(static_cast<const wchar_t*>(nullptr), 6, ThrowSecond);
    ExceptionFactory::Register(iid, 0x80000007, [](const ErrorStorage&) {});
    const std::wstring sameName = registeredName;  // names match by text, not by address
    const std::pair<ErrorStorage, const char*> cases[] = {
        {ErrorStorage(iid, 0x80000005, L"a"), "first"},
        {ErrorStorage(iid, -2147483643L, L"b"), "first"},  // as a negative long
        {ErrorStorage(TestIid(3), 0x80000005, L"c"), "base"},
        {ErrorStorage(sameName.c_str(), 5, L"e"), "first"},
        {ErrorStorage(registeredName, 6, L"f"), "base"},
        {ErrorStorage(nullptr, 6, L"g"), "second"},
        {ErrorStorage(L"", 6, L"h"), "base"},  // empty is not null
        {ErrorStorage(iid, 0x80000007, L"i"), "base"},
    };
    for (const auto& [error, raised] : cases)
        EXPECT_EQ(RaisedFor(error), raised) << static_cast<char>(error.message[0]);
}

}  // namespace
