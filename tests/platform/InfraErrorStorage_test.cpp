#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/InfraErrorStorage.h"

namespace {

using Infra::ErrorStorage;

constexpr Infra::GUID kSomeIid{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
const wchar_t kSomeName[] = L"Storage.Full";

TEST(InfraErrorStorage, CopyKeepsTheIdentityThatIsNamedSelects) {
    const struct {
        const char* label;
        ErrorStorage source;
    } cases[] = {
        {"hresult and interface", ErrorStorage(kSomeIid, 0x80070005, L"denied")},
        {"name and code", ErrorStorage(kSomeName, 42, L"full")},
        {"null name", ErrorStorage(nullptr, 1, L"internal")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        // Start the target from the other form, so stale identity fields would show.
        ErrorStorage assigned = c.source.isNamed ? ErrorStorage(kSomeIid, 7, L"old message text")
                                                 : ErrorStorage(kSomeName, 7, L"old message text");
        assigned = c.source;
        const ErrorStorage constructed(c.source);
        for (const ErrorStorage* copy : {&std::as_const(assigned), &constructed}) {
            EXPECT_STREQ(copy->what(), "Message not specified");
            EXPECT_EQ(std::wstring(copy->message), std::wstring(c.source.message));
            ASSERT_EQ(copy->isNamed, c.source.isNamed);
            if (c.source.isNamed) {
                EXPECT_EQ(copy->named.name, c.source.named.name);
                EXPECT_EQ(copy->named.code, c.source.named.code);
            } else {
                EXPECT_EQ(copy->com.hr, c.source.com.hr);
                EXPECT_EQ(copy->com.iid, c.source.com.iid);
            }
        }
    }
}

TEST(InfraErrorStorage, MessageKeepsAtMost1023CharactersAndATerminator) {
    const struct {
        std::size_t length;
        std::size_t kept;
    } cases[] = {{0, 0}, {1, 1}, {1023, 1023}, {1024, 1023}, {2000, 1023}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::wstring text(c.length, L'a');
        std::fill_n(text.begin(), std::min<std::size_t>(c.length, 3), L'b');
        const ErrorStorage error(Infra::GUID_NULL, 1, text);
        EXPECT_EQ(std::wstring(error.message), text.substr(0, c.kept));
        EXPECT_EQ(error.message[ErrorStorage::kMessageCapacity - 1], L'\0');
    }
}

TEST(InfraErrorStorage, CopyOfAnUnterminatedMessageIsTruncated) {
    ErrorStorage source;
    std::fill(std::begin(source.message), std::end(source.message), L'x');
    const ErrorStorage copy(source);
    EXPECT_EQ(std::wstring(copy.message), std::wstring(1023, L'x'));
}

}  // namespace
