#include <ctime>

namespace orv {

bool SplitUtc(std::time_t when, std::tm& out) {
    return gmtime_s(&out, &when) == 0;
}

}  // namespace orv
