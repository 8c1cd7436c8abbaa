// Checks whose labels are longer than a check box of the usual 200 pixels:
// each box is as wide as its label, and a red list or text says where it
// first differs. Its preview is docs/labels-preview.png.
#include <quorvel/quorvel.h>

#include <string>
#include <vector>

int main() {
    init(nullptr);

    const std::vector<int> values = {1, 2, 3, 4, 5};
    check_equal(values, {1, 2, 3, 4, 6});
    check_equal(std::string("the quick brown fox"), "the quick brown fix");
    const std::vector<int> ones(12, 1);
    std::vector<int> almost = ones;
    almost.back() = 2;
    check_equal(ones, almost);
    check_equal(3.14159265358979, 3.1415926535);
    check_equal(std::string("the quick brown fox"), "the quick brown fox");

    quit(nullptr);
    return 0;
}
