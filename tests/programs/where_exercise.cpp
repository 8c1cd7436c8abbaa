// An exercise whose student code faults in one of the ways the fault box
// names the place of, chosen by its argument:
//
//   where_exercise STEP
//
// Each fault sits on the line marked "where:STEP", in a function of one of
// the forms the box names (a free function, a member, a template, a
// lambda). The tests find the line by its marker and build this program with
// debug information, without it, and stripped. Before its fault it makes one
// green check; "loop" writes "spinning" on standard error once it spins.
#include <quorvel/primitives.h>
#include <quorvel/quorvel.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

volatile int zero = 0;
volatile int never = -1;
int* volatile null_pointer = nullptr;
std::atomic<bool> quitting{false};

int second(const int* p) {
    return *p;  // where:segv
}

struct Average {
    int total = 10;
    int count = 0;
    int value() const { return total / (count + zero); }  // where:fpe
};

namespace ns {

int descend(int depth) { volatile char frame[512]; frame[0] = static_cast<char>(depth); return depth == never ? 0 : descend(depth + 1) + frame[0]; }  // where:recurse

struct A {
    int value() const;
};

int A::value() const {
    const auto crash = [] { *null_pointer = 1; };  // where:lambda
    crash();
    return 0;
}

}  // namespace ns

void give_up() {
    std::abort();  // where:abort
}

unsigned long spins = 0;

void spin() {
    for (;;) { if (++spins == 1000000) { std::fputs("spinning\n", stderr); } }  // where:loop
}

template <typename T>
T f(const std::vector<T>& v) {
    return v.at(v.size());  // where:at
}

void stop_here() {
    std::terminate();  // where:terminate
}

void leave(int status) {
    std::exit(status);  // where:exit
}

void imitate() {
    throw std::runtime_error("looks like a where at x.cpp:3 in f");  // where:imitate
}

// A template whose name, once instantiated, is far wider than a box.
template <typename Key, typename Value>
int crash_in_a_template_with_a_long_name(const std::map<Key, std::vector<std::pair<Key, Value>>>& table) {
    return *null_pointer + static_cast<int>(table.size());  // where:long
}

void worker() {
    *null_pointer = 1;  // where:thread
}

void crash_once_quitting() {
    while (!quitting) {
    }
    *null_pointer = 2;  // where:race
}

// A sum that reads one past the end: AddressSanitizer's heap-buffer-overflow.
int sum(const int* values, int count) {
    int total = 0;
    for (int i = 0; i <= count; ++i) {
        total += values[i];  // where:asan
    }
    return total;
}

int* volatile leaked = nullptr;

// UndefinedBehaviorSanitizer's signed overflow.
int add(int a, int b) {
    return a + b;  // where:ubsan
}

int main(int argc, char** argv) {
    const std::string step = argc > 1 ? argv[1] : "";
    init(nullptr);
    check_equal(1, 1);
    if (step == "segv") {
        return second(null_pointer);
    } else if (step == "fpe") {
        return Average{}.value();
    } else if (step == "recurse") {
        return ns::descend(0);
    } else if (step == "lambda") {
        return ns::A{}.value();
    } else if (step == "abort") {
        give_up();
    } else if (step == "loop") {
        spin();
    } else if (step == "at") {
        return f(std::vector<int>{1, 2});
    } else if (step == "terminate") {
        stop_here();
    } else if (step == "exit") {
        leave(3);
    } else if (step == "return") {
        return 4;
    } else if (step == "imitate") {
        imitate();
    } else if (step == "long") {
        return crash_in_a_template_with_a_long_name(std::map<std::string, std::vector<std::pair<std::string, std::string>>>{});
    } else if (step == "thread") {
        std::thread(worker).join();
    } else if (step == "race") {
        std::thread(crash_once_quitting).detach();
        quitting = true;
    } else if (step == "asan") {
        const std::vector<int> values = {1, 2, 3};
        check_equal(sum(values.data(), 3), 6);
    } else if (step == "ubsan") {
        check_equal(add(2000000001, 2000000001 + zero), 0);
    } else if (step == "leak") {
        leaked = new int[4];  // found by LeakSanitizer at exit, after quit
        leaked = nullptr;
    }
    quit(nullptr);
    return 0;
}
