// An exercise that runs N checks between init and quit (N = 0: only the
// exchange itself). Used by the box benchmark.
#include <quorvel/quorvel.h>

#include <cstdlib>

int main(int argc, char** argv) {
    const int checks = argc > 1 ? std::atoi(argv[1]) : 0;
    init(nullptr);
    for (int i = 0; i < checks; ++i) {
        check_equal(i, i);
    }
    quit(nullptr);
    return 0;
}
