// One check disagrees: the test fails on its red box.
#include <quorvel/quorvel.h>

int main() {
    init(nullptr);
    check_equal(incoming_message_id, 9);
    check_equal(1 + 1, 3);
    quit(nullptr);
}
