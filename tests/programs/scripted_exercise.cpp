// An exercise program driven by its arguments, so that end-to-end tests can
// make any run from one binary:
//
//   scripted_exercise INIT_MODE QUIT_MODE [STEP ...]
//
// A mode of "@null" is a null pointer. Arguments are percent-decoded (%0A is a
// newline, %00 a NUL). Steps (fields split at ':'):
//   bool:A:B  char:A:B  int:A:B      check_equal; char fields are one byte
//   near:A:B                         near_equal (strtod: "inf", "nan" work)
//   str:A:POS:B                      check_equal(a, pos, b); "@null" is null
//   str2:A:B                         check_equal(a, b)
//   ints:A,B,...[:COUNT]  ints:      show_int_array (count: the list's, or COUNT)
//   chars:TEXT:COUNT                 show_char_array over TEXT's bytes, NUL-padded
//                                    to COUNT
//   nullints:COUNT  nullchars:COUNT  array display of a null pointer
//   label:OK:SIZE                    show_correctness_box with SIZE 'x' bytes
//   repeat:N                         N checks check_equal(i, i)
//   box:TEXT:BG:W:H:FONT:COLOR:BORDER  text_in_box
//   id                               prints "id=N starting=B" to stderr
//   descriptors                      prints "descriptors: N", how many are
//                                    open, to stderr
//   quit:MODE                        an extra quit
//   append:TEXT                      appends TEXT to the document itself
//   terminate:empty                  terminate() of an image of its own
//   terminate:null                   terminate(nullptr, nullptr)
//   terminate:run                    terminate(mem, yaml): the run's own image
//   print:HOW:TEXT                   TEXT on standard output through HOW:
//                                    cout, printf or write (write(2) to fd 1)
//   fault:KIND                       null (a write through a null pointer),
//                                    recurse (without end), divzero, abort,
//                                    throw (std::runtime_error "boom"), throw42,
//                                    trap (an illegal instruction), bus (a read
//                                    of a mapped page past the end of its file)
//   typed:TA:A:TB:B                  check_equal of two numbers of the named
//                                    types: i8 u8 schar uchar char bool short
//                                    ushort int uint long ulong ll ull size
//                                    float double ldouble enum
//   neartyped:TA:A:TB:B[:TOL]        near_equal of two such numbers
//   text:TA:A:TB:B                   check_equal of two texts: string, view,
//                                    cstr, null (nullptr; A is ignored), lit
//                                    (the literal "abc"; A is ignored)
//   list:TA:A,B,..:TB:A,B,..         check_equal of two std::vectors of int,
//                                    long, u8 or double; TB "braced" is the
//                                    braced list {1, 2, 3}, "array" a
//                                    std::array<int, 3>
//   strings:A,B,..:A,B,..            two std::vector<std::string>
//   chars:TEXT:TEXT2 as vchars       two std::vector<char>
//   nested:same  nested:other        nested vectors against a braced list
//   nullzero                         check_equal(null const char*, 0)
//   vints:TYPE:A,B,..                show_int_array of a std::vector of TYPE
//   strchars:TEXT  vecchars:TEXT     show_char_array of a std::string, a
//                                    std::vector<char>
//   exit:N                           std::exit(N)
//   await-term                       "checks done" on standard error, then
//                                    waits for a signal
//   fork-many:N:MS                   N children that wait, forked while fork
//                                    works; "forked K" on standard error, then
//                                    MS ms of waiting with them
//   cpu-limit                        a CPU-time limit of 1 s, then a busy loop
//   spin:MS                          spins until its CPU clock reads MS ms
//   hog:T                            T threads and the main one spin without end
//   file-limit:KIB                   a file size limit of KIB KiB
//   write-file:KIB                   KIB KiB written to "written.dat" in 4 KiB
//                                    writes; a write that fails is named on
//                                    standard error ("write: <reason>")
//   alloc:MIB                        allocates MIB MiB and writes to every page
//   print-many:MIB[:cout]            MIB MiB of numbered lines on standard
//                                    output, through stdio or std::cout
//   print-loop                       4 MiB of lines, "printed" on standard
//                                    error, then lines without end
//   std-terminate                    std::terminate() without an exception
//   forget-join                      a std::thread destroyed unjoined
//   threads:T:N                      T threads, each N check_equal and one
//                                    show_int_array of {T*1000, T*1000+1, +2}
//   threads-fault:T                  T threads appending 50 checks each;
//                                    once 100 boxes are made, an abort
//   denied                           what a sandbox denies, a line each on
//                                    standard error ("NAME: <errno text>" or
//                                    "NAME: allowed"): TIOCSTI on a pty made
//                                    its controlling terminal, the same
//                                    request with high bits set, keyctl,
//                                    perf_event_open, a user namespace, and
//                                    PTRACE_SEIZE of PID 1
//   exe-write                        a child that keeps the program's own
//                                    file (/proc/self/exe) open and, once
//                                    the program has ended, appends to it
//   fork:KIND                        a child that exits 3 (exit3), prints and
//                                    exits 0 (print0), crashes (crash) or
//                                    calls quit (quit); the parent waits and
//                                    writes "child: exited N" or "child:
//                                    signal N" on standard error
// Without arguments, they come from the end of its own file: a copy of the
// exercise with "\n#steps:" and its arguments, space-separated, appended
// runs as a program of its own, as quorvel-view --check runs programs.
// An INIT_MODE that starts with "@ignore-xfsz/" ignores SIGXFSZ, as a host
// may, before the rest of it; "@noinit" skips init(), "@nofiles" calls init(nullptr) with
// room for one more file descriptor only (so the guard cannot make its
// pipe), "@nostderr" closes standard error first, and a QUIT_MODE of
// "@noquit" skips quit().
#include <quorvel/primitives.h>
#include <quorvel/quorvel.h>

#include <fcntl.h>
#include <linux/perf_event.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <exception>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <iterator>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

std::string decode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> fields_at(const std::string& step, char separator) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t at = step.find(separator); at != std::string::npos;
         at = step.find(separator, start)) {
        out.push_back(decode(step.substr(start, at - start)));
        start = at + 1;
    }
    out.push_back(decode(step.substr(start)));
    return out;
}

std::vector<std::string> fields(const std::string& step) { return fields_at(step, ':'); }

const char* mode_of(const std::string& arg) { return arg == "@null" ? nullptr : arg.c_str(); }

volatile int never = -1;  // the faults below must not be seen through

int recurse(int depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    return depth == never ? 0 : recurse(depth + 1) + frame[0];
}

void fault(const std::string& kind) {
    if (kind == "null") {
        volatile int* volatile target = nullptr;
        *target = 1;
    } else if (kind == "recurse") {
        std::exit(recurse(0));
    } else if (kind == "divzero") {
        volatile int zero = 0;
        std::exit(never / zero);
    } else if (kind == "abort") {
        std::abort();  // where:fault-abort
    } else if (kind == "throw") {
        throw std::runtime_error("boom");
    } else if (kind == "throw42") {
        throw 42;
    } else if (kind == "trap") {
        __builtin_trap();
    } else if (kind == "bus") {
        const int empty = memfd_create("empty", 0);
        const auto* page = static_cast<volatile char*>(
            mmap(nullptr, 4096, PROT_READ, MAP_SHARED, empty, 0));
        std::exit(page[0]);
    }
}

void tell_denied(const char* name, long result) {
    std::cerr << name << ": " << (result < 0 ? std::strerror(errno) : "allowed") << "\n";
}

void write_own_file() {
    const int self = open("/proc/self/exe", O_RDONLY);
    if (fork() == 0) {
        dup2(self, 3);
        const std::string parent = std::to_string(getppid());
        execl("/bin/sh", "sh", "-c", "while kill -0 $0 2>/dev/null; do sleep 0.01; done; printf x >>/proc/self/fd/3",
              parent.c_str(), static_cast<char*>(nullptr));
        _exit(1);
    }
}

void try_denied() {
    setsid();  // fails, harmlessly, where it already leads a session
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    const int terminal = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? open(ptsname(master), O_RDWR) : -1;
    ioctl(terminal, TIOCSCTTY, 0);
    const char byte = 'x';
    tell_denied("TIOCSTI", syscall(SYS_ioctl, terminal, TIOCSTI, &byte));
    tell_denied("TIOCSTI high", syscall(SYS_ioctl, terminal, TIOCSTI | (1UL << 32), &byte));
    tell_denied("keyctl", syscall(SYS_keyctl, 0 /* KEYCTL_GET_KEYRING_ID */, -3, 0));
    perf_event_attr attr{};
    attr.size = sizeof attr;
    attr.type = PERF_TYPE_SOFTWARE;
    attr.config = PERF_COUNT_SW_CPU_CLOCK;
    attr.exclude_kernel = 1;
    tell_denied("perf_event_open", syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
    tell_denied("unshare", unshare(CLONE_NEWUSER));
    tell_denied("ptrace", ptrace(static_cast<__ptrace_request>(PTRACE_SEIZE), 1, nullptr, nullptr));
}

enum Small { small_three = 3 };

// text read as a T, exactly: integers through the widest type of their
// signedness, floating values at their own precision.
template <typename T>
T parse_as(const std::string& text) {
    if constexpr (std::is_enum_v<T>) {
        return static_cast<T>(std::stoll(text));
    } else if constexpr (std::is_same_v<T, float>) {
        return std::stof(text);
    } else if constexpr (std::is_same_v<T, double>) {
        return std::stod(text);
    } else if constexpr (std::is_same_v<T, long double>) {
        return std::stold(text);
    } else if constexpr (std::is_signed_v<T>) {
        return static_cast<T>(std::stoll(text));
    } else {
        return static_cast<T>(std::stoull(text));
    }
}

// Calls f with text read as a number of the named type.
template <typename F>
void with_number(const std::string& type, const std::string& text, F&& f) {
    if (type == "i8") f(parse_as<std::int8_t>(text));
    else if (type == "u8") f(parse_as<std::uint8_t>(text));
    else if (type == "schar") f(parse_as<signed char>(text));
    else if (type == "uchar") f(parse_as<unsigned char>(text));
    else if (type == "char") f(static_cast<char>(std::stoi(text)));
    else if (type == "bool") f(parse_as<bool>(text));
    else if (type == "short") f(parse_as<short>(text));
    else if (type == "ushort") f(parse_as<unsigned short>(text));
    else if (type == "int") f(parse_as<int>(text));
    else if (type == "uint") f(parse_as<unsigned>(text));
    else if (type == "long") f(parse_as<long>(text));
    else if (type == "ulong") f(parse_as<unsigned long>(text));
    else if (type == "ll") f(parse_as<long long>(text));
    else if (type == "ull") f(parse_as<unsigned long long>(text));
    else if (type == "size") f(parse_as<std::size_t>(text));
    else if (type == "float") f(parse_as<float>(text));
    else if (type == "double") f(parse_as<double>(text));
    else if (type == "ldouble") f(parse_as<long double>(text));
    else if (type == "enum") f(parse_as<Small>(text));
    else std::exit(2);
}

template <typename T>
std::vector<T> list_of(const std::string& text) {
    std::vector<T> values;
    for (const std::string& item : fields_at(text, ',')) {
        if (!item.empty()) {
            values.push_back(parse_as<T>(item));
        }
    }
    return values;
}

template <typename F>
void with_list(const std::string& type, const std::string& text, F&& f) {
    if (type == "int") f(list_of<int>(text));
    else if (type == "long") f(list_of<long>(text));
    else if (type == "u8") f(list_of<std::uint8_t>(text));
    else if (type == "double") f(list_of<double>(text));
    else std::exit(2);
}

template <typename F>
void with_text(const std::string& type, const std::string& text, F&& f) {
    if (type == "string") f(text);
    else if (type == "view") f(std::string_view(text));
    else if (type == "cstr") f(text.c_str());
    else if (type == "null") f(nullptr);
    else if (type == "lit") f("abc");
    else std::exit(2);
}

void check_lists(const std::vector<std::string>& f) {
    with_list(f[1], f[2], [&](const auto& a) {
        if (f[3] == "braced") {
            check_equal(a, {1, 2, 3});
        } else if (f[3] == "array") {
            check_equal(a, std::array<int, 3>{1, 2, 3});
        } else {
            with_list(f[3], f[4], [&](const auto& b) { check_equal(a, b); });
        }
    });
}

void print(const std::string& how, const std::string& text) {
    if (how == "cout") {
        std::cout << text;
    } else if (how == "printf") {
        std::printf("%s", text.c_str());
    } else if (write(STDOUT_FILENO, text.data(), text.size()) < 0) {
        std::exit(2);
    }
}

void fork_many(int count, int hold_ms) {
    int forked = 0;
    for (; forked < count; ++forked) {
        const pid_t child = fork();
        if (child < 0) {
            break;
        }
        if (child == 0) {
            for (;;) {
                pause();
            }
        }
    }
    std::fprintf(stderr, "forked %d\n", forked);
    std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
}

void limit_file_size(unsigned long kib) {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = kib * 1024;  // under a hard limit its host set, too
    setrlimit(RLIMIT_FSIZE, &limit);
}

void write_file(unsigned long kib) {
    std::FILE* file = std::fopen("written.dat", "w");
    const std::string chunk(4096, 'w');
    for (unsigned long written = 0; file != nullptr && written < kib; written += 4) {
        if (::write(fileno(file), chunk.data(), chunk.size()) < 0) {
            std::perror("write");
            break;
        }
    }
    if (file != nullptr) {
        std::fclose(file);
    }
}

[[noreturn]] void use_cpu_until_stopped() {
    const rlimit limit{1, RLIM_INFINITY};
    setrlimit(RLIMIT_CPU, &limit);
    for (volatile unsigned long spin = 0;; spin = spin + 1) {
    }
}

// Spins until the process has used ms milliseconds of CPU time.
void spin_for(long ms) {
    constexpr long per_second = 1000;
    while (std::clock() < static_cast<std::clock_t>(ms * (CLOCKS_PER_SEC / per_second))) {
    }
}

// threads threads and this one spin without end.
[[noreturn]] void hog(int threads) {
    for (int i = 0; i < threads; ++i) {
        std::thread([] { spin_for(std::numeric_limits<long>::max() / CLOCKS_PER_SEC); }).detach();
    }
    spin_for(std::numeric_limits<long>::max() / CLOCKS_PER_SEC);
    std::abort();
}

constexpr std::size_t mebibyte = 1024 * 1024;

// Lines of a loop on stdout, or std::cout, (printing on when the writes
// fail) until bytes went out.
void print_lines(std::size_t bytes, bool through_cout = false) {
    for (std::size_t printed = 0, line = 0; printed < bytes; ++line) {
        const std::string text = "line " + std::to_string(line) + " of a loop that prints\n";
        if (through_cout) {
            std::cout << text << std::flush;
        } else {
            std::fputs(text.c_str(), stdout);
        }
        printed += text.size();
    }
}

[[noreturn]] void print_without_end() {
    print_lines(4 * mebibyte);
    std::cerr << "printed" << std::endl;
    for (;;) {
        std::puts("and on");
    }
}

void run_threads(int count, int checks) {
    std::vector<std::thread> threads;
    for (int t = 1; t <= count; ++t) {
        threads.emplace_back([t, checks] {
            for (int i = 0; i < checks; ++i) {
                check_equal(i, i);
            }
            const int values[] = {t * 1000, t * 1000 + 1, t * 1000 + 2};
            show_int_array(values, 3);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// Threads append 50 checks each while this one waits for 100 boxes and
// aborts, most likely in the middle of another thread's box.
[[noreturn]] void fault_among_threads(int count) {
    static std::atomic<int> made{0};
    for (int t = 0; t < count; ++t) {
        std::thread([] {
            for (int i = 0; i < 50; ++i) {
                check_equal(i, i);
                ++made;
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            for (;;) {
                pause();
            }
        }).detach();
    }
    while (made < 100) {
        std::this_thread::yield();
    }
    std::abort();
}

void run_child(const std::string& kind) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (kind == "exit3") {
            std::exit(3);
        } else if (kind == "print0") {
            std::printf("hi from the child\n");
            std::exit(0);
        } else if (kind == "crash") {
            volatile int* volatile target = nullptr;
            *target = 1;
        } else if (kind == "quit") {
            quit(nullptr);
        }
        std::exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) {
        std::cerr << "child: exited " << WEXITSTATUS(status) << std::endl;
    } else {
        std::cerr << "child: signal " << WTERMSIG(status) << std::endl;
    }
}

// init() with room for just one more file descriptor, then the old limit.
void init_without_room() {
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    const int lowest_free = dup(STDERR_FILENO);
    close(lowest_free);
    const rlimit tight{static_cast<rlim_t>(lowest_free) + 1, saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &tight);
    init(nullptr);
    setrlimit(RLIMIT_NOFILE, &saved);
}

std::vector<int> int_list(const std::string& text) {
    std::vector<int> values;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(',', start);
        end = end == std::string::npos ? text.size() : end;
        values.push_back(std::stoi(text.substr(start, end - start)));
        start = end + 1;
    }
    return values;
}

void run_step(const std::vector<std::string>& f, std::vector<std::string>& keep) {
    const std::string& op = f[0];
    if (op == "bool") {
        check_equal(f[1] == "1", f[2] == "1");
    } else if (op == "char") {
        check_equal(f[1].empty() ? '\0' : f[1][0], f[2].empty() ? '\0' : f[2][0]);
    } else if (op == "int") {
        check_equal(std::stoi(f[1]), std::stoi(f[2]));
    } else if (op == "near") {
        near_equal(std::strtod(f[1].c_str(), nullptr), std::strtod(f[2].c_str(), nullptr));
    } else if (op == "str") {
        check_equal(f[1] == "@null" ? nullptr : f[1].c_str(), std::stoi(f[2]),
                    f[3] == "@null" ? nullptr : f[3].c_str());
    } else if (op == "str2") {
        check_equal(f[1] == "@null" ? nullptr : f[1].c_str(),
                    f[2] == "@null" ? nullptr : f[2].c_str());
    } else if (op == "ints") {
        const std::vector<int> values = int_list(f[1]);
        show_int_array(values.data(), f.size() > 2 ? std::stoi(f[2]) : static_cast<int>(values.size()));
    } else if (op == "chars") {
        const int count = std::stoi(f[2]);
        keep.push_back(f[1]);
        keep.back().resize(std::max(keep.back().size(), static_cast<std::size_t>(std::max(count, 0))));
        show_char_array(keep.back().c_str(), count);
    } else if (op == "nullints") {
        show_int_array(nullptr, std::stoi(f[1]));
    } else if (op == "nullchars") {
        show_char_array(nullptr, std::stoi(f[1]));
    } else if (op == "label") {
        show_correctness_box(f[1] == "1", std::string(std::stoul(f[2]), 'x'));
    } else if (op == "repeat") {
        for (int i = 0, n = std::stoi(f[1]); i < n; ++i) {
            check_equal(i, i);
        }
    } else if (op == "box") {
        text_in_box(f[1], f[2], std::stoi(f[3]), std::stoi(f[4]), std::stoi(f[5]), f[6], f[7]);
    } else if (op == "descriptors") {
        int open = 0;
        for (int fd = 0; fd < 1024; ++fd) {
            open += fcntl(fd, F_GETFD) >= 0 ? 1 : 0;
        }
        std::cerr << "descriptors: " << open << std::endl;
    } else if (op == "id") {
        std::cerr << "id=" << incoming_message_id << " starting=" << just_starting() << "\n";
    } else if (op == "quit") {
        quit(mode_of(f[1]));
    } else if (op == "terminate") {
        char* image = nullptr;
        char* document = nullptr;
        if (f[1] == "empty") {
            initialize_empty(image, document);
        } else if (f[1] == "run") {
            image = mem;
            document = yaml;
        }
        terminate(image, document);
    } else if (op == "append") {
        append(yaml, f[1].c_str());
    } else if (op == "typed") {
        with_number(f[1], f[2], [&](auto a) { with_number(f[3], f[4], [&](auto b) { check_equal(a, b); }); });
    } else if (op == "neartyped") {
        with_number(f[1], f[2], [&](auto a) {
            with_number(f[3], f[4], [&](auto b) {
                if (f.size() > 5) {
                    near_equal(a, b, std::stod(f[5]));
                } else {
                    near_equal(a, b);
                }
            });
        });
    } else if (op == "text") {
        with_text(f[1], f[2], [&](auto a) { with_text(f[3], f[4], [&](auto b) { check_equal(a, b); }); });
    } else if (op == "list") {
        check_lists(f);
    } else if (op == "strings") {
        check_equal(fields_at(f[1], ','), fields_at(f[2], ','));
    } else if (op == "vchars") {
        check_equal(std::vector<char>(f[1].begin(), f[1].end()), std::vector<char>(f[2].begin(), f[2].end()));
    } else if (op == "nested") {
        const std::vector<std::vector<int>> nested = {{1, 2}, {f[1] == "same" ? 3 : 4}};
        check_equal(nested, {{1, 2}, {3}});
    } else if (op == "nullzero") {
        const char* null = nullptr;
        check_equal(null, 0);
    } else if (op == "vints") {
        if (f[1] == "long") show_int_array(list_of<long>(f[2]));
        else if (f[1] == "u8") show_int_array(std::array<std::uint8_t, 2>{200, 7});
        else show_int_array(list_of<std::size_t>(f[2]));
    } else if (op == "strchars") {
        show_char_array(f[1]);
    } else if (op == "vecchars") {
        show_char_array(std::vector<char>(f[1].begin(), f[1].end()));
    } else if (op == "print") {
        print(f[1], f[2]);
    } else if (op == "fault") {
        fault(f[1]);
    } else if (op == "exit") {
        std::exit(std::stoi(f[1]));
    } else if (op == "await-term") {
        std::cerr << "checks done" << std::endl;
        for (;;) {
            pause();
        }
    } else if (op == "fork-many") {
        fork_many(std::stoi(f[1]), std::stoi(f[2]));
    } else if (op == "file-limit") {
        limit_file_size(std::stoul(f[1]));
    } else if (op == "write-file") {
        write_file(std::stoul(f[1]));
    } else if (op == "cpu-limit") {
        use_cpu_until_stopped();
    } else if (op == "spin") {
        spin_for(std::stol(f[1]));
    } else if (op == "hog") {
        hog(std::stoi(f[1]));
    } else if (op == "alloc") {
        keep.emplace_back(std::stoul(f[1]) * mebibyte, 'a');
    } else if (op == "print-many") {
        print_lines(std::stoul(f[1]) * mebibyte, f.size() > 2 && f[2] == "cout");
    } else if (op == "print-loop") {
        print_without_end();
    } else if (op == "std-terminate") {
        std::terminate();
    } else if (op == "forget-join") {
        std::thread forgotten([] {});
    } else if (op == "threads") {
        run_threads(std::stoi(f[1]), std::stoi(f[2]));
    } else if (op == "threads-fault") {
        fault_among_threads(std::stoi(f[1]));
    } else if (op == "fork") {
        run_child(f[1]);
    } else if (op == "denied") {
        try_denied();
    } else if (op == "exe-write") {
        write_own_file();
    } else {
        std::cerr << "unknown step " << op << "\n";
        std::exit(2);
    }
}

}  // namespace

// The arguments appended to its own file, after the last "\n#steps:" in its
// last 64 KiB.
std::vector<std::string> own_arguments() {
    constexpr char marker[] = "\n#steps:";
    constexpr off_t tail_size = 64 * 1024;
    const int self = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    const off_t size = lseek(self, 0, SEEK_END);
    std::string tail(static_cast<std::size_t>(std::clamp<off_t>(size, 0, tail_size)), '\0');
    const ssize_t got = pread(self, tail.data(), tail.size(), size - static_cast<off_t>(tail.size()));
    close(self);
    tail.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    const std::size_t at = tail.rfind(marker);
    std::istringstream words(at == std::string::npos ? "" : tail.substr(at + sizeof marker - 1));
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        args = own_arguments();
    }
    if (args.size() < 2) {
        std::cerr << "usage: scripted_exercise INIT_MODE QUIT_MODE [STEP ...]\n";
        return 2;
    }
    std::string init_mode = decode(args[0]);
    const std::string ignore_xfsz = "@ignore-xfsz/";
    if (init_mode.rfind(ignore_xfsz, 0) == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        init_mode = init_mode.substr(ignore_xfsz.size());
    }
    const std::string quit_mode = decode(args[1]);
    if (init_mode == "@nofiles") {
        init_without_room();
    } else if (init_mode == "@nostderr") {
        close(STDERR_FILENO);
        init(nullptr);
    } else if (init_mode != "@noinit") {
        init(mode_of(init_mode));
    }
    std::vector<std::string> keep;
    keep.reserve(args.size());
    for (std::size_t i = 2; i < args.size(); ++i) {
        run_step(fields(args[i]), keep);
    }
    if (quit_mode != "@noquit") {
        quit(mode_of(quit_mode));
    }
    return 0;
}
