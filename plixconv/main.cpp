#include <cstdio>

int main() {
    std::printf("[[ PLIX Library ]] reference code.\n\n");
    return 0;
}
