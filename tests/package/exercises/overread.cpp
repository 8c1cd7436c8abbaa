// The student's sum reads one element past the end of its vector, which
// only a sanitizer sees: built with SANITIZE, the test fails and names the
// line.
#include <quorvel/quorvel.h>

#include <vector>

int sum(const std::vector<int>& values) {
    int total = 0;
    for (std::size_t i = 0; i <= values.size(); ++i) {
        total += values.data()[i];
    }
    return total;
}

int main() {
    init(nullptr);
    check_equal(sum({1, 2, 3}), 6);
    quit(nullptr);
}
