#include "startup/InfraErrorTable.h"

namespace orv {

// This module's own registration, done before main; a failure here ends the program.
const bool kInfraErrorTableRegisteredAtStart = (RegisterInfraErrorTable(), true);

}  // namespace orv
