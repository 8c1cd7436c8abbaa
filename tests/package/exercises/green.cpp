// Every check agrees: the test passes.
#include <quorvel/quorvel.h>

int main() {
    init(nullptr);
    check_equal(incoming_message_id, 4);
    check_equal(2 + 2, 4);
    quit(nullptr);
}
