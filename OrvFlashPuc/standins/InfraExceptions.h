#pragma once

#include "standins/InfraErrorStorage.h"

// The typed exceptions the factory raises. Each copies the description it is made from and adds
// nothing, so a catch of any base sees the same message and identity.
namespace Infra {

class ExceptionBase : public ErrorStorage {
  public:
    explicit ExceptionBase(const ErrorStorage& error) : ErrorStorage(error) {}
};

class InternalError : public ExceptionBase {
  public:
    using ExceptionBase::ExceptionBase;
};

class ExceptionCOM : public ExceptionBase {
  public:
    using ExceptionBase::ExceptionBase;
};

// clang-format off
class AccessDenied : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class BindingAlreadyRegistered : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class BindingRegistrationRevoked : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class ElevationRequired : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class InvalidArg : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class MonikerIntermediateUnsupported : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class MonikerNoObject : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class MonikerSyntax : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class NoInterface : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class NotImplemented : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class OutOfMemory : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class Pointer : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
class Unexpected : public ExceptionCOM { public: using ExceptionCOM::ExceptionCOM; };
// clang-format on

}  // namespace Infra
