// Checks one value and echoes the exchange: built against an installed package.
#include <quorvel/quorvel.h>

int main() {
    init(nullptr);
    check_equal(1, 1);
    quit("just yaml");
    return 0;
}
