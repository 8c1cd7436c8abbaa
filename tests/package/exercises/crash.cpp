// The student's code aborts before quit (abort(), so that sanitizer builds
// agree): the test fails on the crash.
#include <quorvel/quorvel.h>

#include <cstdlib>

int main() {
    init(nullptr);
    check_equal(1, 1);
    std::abort();
}
