#include "os/ProcessSetup.h"

namespace orv {

void PrepareMainThread() {}

}  // namespace orv
