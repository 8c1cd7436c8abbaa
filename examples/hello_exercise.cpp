// A minimal exercise: compare a student's results with the expected ones and
// show an array. Build it against quorvel::quorvel and quorvel::primitives,
// start it with the host's exchange stream on standard input.
#include <quorvel/quorvel.h>

namespace {

// The student's code under test.
int sum_of(const int* values, int count) {
    int sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += values[i];
    }
    return sum;
}

}  // namespace

int main() {
    init(nullptr);  // or init("store input") to archive the message in input/

    const int values[] = {7, -12, 30};
    show_int_array(values, 3);
    check_equal(sum_of(values, 3), 25);
    check_equal(sum_of(values, 0), 1);  // a failing check shows a red box
    near_equal(0.1 + 0.2, 0.3);
    check_equal("hello world", 6, "world");

    quit(nullptr);  // the document, the separator and the memory area to stdout
    return 0;
}
