#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/InfraErrorStorage.h"
#include "platform/InfraExceptionFactory.h"

namespace orv::test {

struct ExpectedInfraError {
    const char* className;
    const char* iid;  // nullptr: the name form with a null name
    std::uint32_t code;
    // Raises through the thrower and checks the class, every base it must be caught as, and the
    // copied description.
    void (*expectRaises)(Infra::ExceptionFactory::Thrower thrower,
                         const Infra::ErrorStorage& error);
};

// The registration table as the tool must hold it, in order.
extern const std::vector<ExpectedInfraError> kExpectedInfraErrors;

std::string GuidText(const Infra::GUID& guid);

// The factory holds exactly the table's keys in the table's order.
void ExpectFactoryHoldsTheTable();

}  // namespace orv::test
