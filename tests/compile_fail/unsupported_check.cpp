// Must not compile: a struct without == is not something check_equal takes.
// The first error must say so in check_equal's own words.
#include <quorvel/quorvel.h>

struct Point {
    int x;
    int y;
};

int main() {
    check_equal(Point{1, 2}, Point{1, 2});
}
