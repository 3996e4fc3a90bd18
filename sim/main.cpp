#include <cstdio>

int main() {
    std::fprintf(stderr, "OrvCanSim: not built yet\n");
    return 1;
}
