#include <ctime>

namespace orv {

bool SplitUtc(std::time_t when, std::tm& out) {
    return gmtime_r(&when, &out) != nullptr;
}

}  // namespace orv
