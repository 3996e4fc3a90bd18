#include "startup/InfraErrorTable.h"

#include "standins/InfraExceptionFactory.h"
#include "standins/InfraExceptions.h"

namespace orv {
namespace {

using Infra::ExceptionFactory;
using Infra::GUID;

constexpr GUID kBindingErrorsIid{
    0x8EA19E03, 0x6B04, 0x475D, {0x8A, 0xB5, 0xFD, 0x78, 0xB3, 0xC1, 0xDF, 0x54}};
constexpr GUID IID_IMoniker{
    0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// One thrower per class.
template <class Exception>
void ThrowAs(const Infra::ErrorStorage& error) {
    throw Exception(error);
}

}  // namespace

void RegisterInfraErrorTable() {
    ExceptionFactory::Register(Infra::GUID_NULL, 0x80070005, ThrowAs<Infra::AccessDenied>);
    ExceptionFactory::Register(kBindingErrorsIid, 0x80040200,
                               ThrowAs<Infra::BindingAlreadyRegistered>);
    ExceptionFactory::Register(kBindingErrorsIid, 0x80040201,
                               ThrowAs<Infra::BindingRegistrationRevoked>);
    // Windows error 740 as an HRESULT.
    ExceptionFactory::Register(Infra::GUID_NULL, 0x800702E4, ThrowAs<Infra::ElevationRequired>);
    ExceptionFactory::Register(static_cast<const wchar_t*>(nullptr), 1,
                               ThrowAs<Infra::InternalError>);
    ExceptionFactory::Register(Infra::GUID_NULL, 0x80070057, ThrowAs<Infra::InvalidArg>);
    ExceptionFactory::Register(IID_IMoniker, 0x800401E7,
                               ThrowAs<Infra::MonikerIntermediateUnsupported>);
    ExceptionFactory::Register(IID_IMoniker, 0x800401E5, ThrowAs<Infra::MonikerNoObject>);
    ExceptionFactory::Register(IID_IMoniker, 0x800401E4, ThrowAs<Infra::MonikerSyntax>);
    ExceptionFactory::Register(Infra::GUID_NULL, 0x80004002, ThrowAs<Infra::NoInterface>);
    ExceptionFactory::Register(Infra::GUID_NULL, 0x80004001, ThrowAs<Infra::NotImplemented>);
    ExceptionFactory::Register(Infra::GUID_NULL, 0x8007000E, ThrowAs<Infra::OutOfMemory>);
    ExceptionFactory::Register(Infra::GUID_NULL, 0x80004003, ThrowAs<Infra::Pointer>);
    ExceptionFactory::Register(Infra::GUID_NULL, 0x8000FFFF, ThrowAs<Infra::Unexpected>);
}

}  // namespace orv
