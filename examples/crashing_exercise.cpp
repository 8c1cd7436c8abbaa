// An exercise whose student code prints while debugging and then crashes:
// the host still gets the boxes made before the crash, a box with what was
// printed, and a red box that names the crash.
#include <quorvel/quorvel.h>

#include <cstdio>

namespace {

// The student's code under test: it counts one node too many, and follows
// the null pointer after the last one.
struct Node {
    int value;
    const Node* next;
};

int length_of_list(const Node* node) {
    int length = 0;
    while (length <= 3) {
        std::printf("visiting node %d\n", node->value);  // debugging output
        node = node->next;
        ++length;
    }
    return length;
}

}  // namespace

int main() {
    init(nullptr);

    const Node third{30, nullptr};
    const Node second{20, &third};
    const Node first{10, &second};
    check_equal(first.value, 10);
    check_equal(second.next == &third, true);
    check_equal(length_of_list(&first), 3);  // crashes: a null pointer is followed

    quit(nullptr);
    return 0;
}
