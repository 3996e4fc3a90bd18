#include "frontend/CommandDriver.h"

int main(int argc, char** argv) {
    return RunCommandDriver(argc, argv);
}
