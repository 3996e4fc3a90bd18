#include "frontend/CommandDriver.h"

int main(int argc, char** argv) {
    return orv::RunCommandDriver(argc, argv);
}
