// The exercise support library: framing, run start and finish, view boxes,
// checks, array display and utilities. Conventions and globals are described
// at the top of quorvel.h.
#include <quorvel/quorvel.h>
#include <quorvel/primitives.h>

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string_view>

char* mem = nullptr;
char* yaml = nullptr;
char* response = nullptr;
char* query_str = nullptr;
int incoming_message_id = -1;

// Set up in this order before main(): device, seeded engine, distribution,
// and the generator holding copies of the last two.
std::random_device rd("default");
std::mt19937 rng(rd());
std::uniform_real_distribution<double> distribution(0.0, 1.0);
std::function<double()> generator = std::bind(distribution, rng);

namespace {

constexpr const char* separator = quorvel_separator;
constexpr int separator_length = quorvel_separator_length;
constexpr int memory_size = quorvel_memory_size;
constexpr int largest_document_start = document_capacity - 1;  // k may be 0..89,998
constexpr const char* input_directory = "input";
constexpr mode_t input_directory_mode = 0775;
constexpr const char* store_input_mode = "store input";
constexpr const char* message_id_key = "message_id:";

constexpr std::size_t time_text_size = 100;
constexpr long millis_per_second = 1000;
constexpr std::int64_t nanos_per_milli = 1000000;
constexpr std::size_t number_text_size = 24;  // the longest 64-bit number and a sign
constexpr std::size_t shortest_text_size = 64;  // a long double's shortest text, exponent and all

void warn(const std::string& text) { std::cerr << "Warning:  " << text << std::endl; }

void warn_init(const std::string& text) {
    std::cerr << "Warning in init:  " << text << std::endl;
}

void warn_read_limit() {
    std::cerr << "Warning:  did not reach EOF after " << image_size << " characters.";
}

bool same_text(const char* text, const char* expected) {
    return text != nullptr && std::strcmp(text, expected) == 0;
}

// Where the box writer last found the end of the document. Framing or
// releasing an image forgets it, so that a new image that happens to get a
// released one's address is measured afresh.
const char* known_document = nullptr;
std::size_t known_length = 0;

void forget_document_end() {
    known_document = nullptr;
    known_length = 0;
}

// A new image, all fill_byte, with an empty document.
void new_image(char*& image, char*& document) {
    forget_document_end();
    image = new char[image_size];
    std::memset(image, fill_byte, image_size);
    document = image + document_offset;
    document[0] = '\0';
}

// Frames the n staged bytes (staging[n] is a NUL) into a new image.
void frame(const char* staging, int n, char*& image, char*& document) {
    new_image(image, document);
    if (n <= 0) {
        return;
    }
    const int k = index_of(staging, separator);
    if (k < 0) {
        warn("did not find separator between yaml and mem.");
        return;
    }
    if (k > largest_document_start) {
        warn("yaml of " + std::to_string(k + 1) + " characters does not fit in " +
             std::to_string(document_capacity) + "; input discarded.");
        return;
    }
    std::memcpy(document, staging, static_cast<std::size_t>(k) + 1);
    document[k + 1] = '\0';
    const int memory_start = k + separator_length;
    const int limit = std::min(n, memory_start + memory_size);
    if (limit > memory_start) {
        std::memcpy(image, staging + memory_start, static_cast<std::size_t>(limit - memory_start));
    }
}

// Writes the archive input/<id>.txt; warns when it cannot.
void store_input() {
    struct stat info {};
    if (stat(input_directory, &info) != 0 || !S_ISDIR(info.st_mode)) {
        if (mkdir(input_directory, input_directory_mode) == -1) {
            warn_init(std::string("unable to create directory ") + input_directory);
            return;
        }
    }
    if (incoming_message_id < 0) {
        return;
    }
    const std::string path =
        std::string(input_directory) + "/" + std::to_string(incoming_message_id) + ".txt";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        warn_init("unable to open file " + path);
        return;
    }
    file << yaml;
    file.write(separator, separator_length);
    file.write(mem, yaml - mem);
    file.close();
    if (!file) {
        warn_init("unable to write file " + path);
    }
}

void read_message_id() {
    if (length_of(yaml, 0) <= 0) {
        return;
    }
    const Range where = find_value(yaml, message_id_key, true);
    if (range_second(where) <= 0) {
        warn_init("unable to find message id!");
        return;
    }
    incoming_message_id = as_integer(yaml, where);
    if (incoming_message_id < 0) {
        warn_init("invalid message id " + std::to_string(incoming_message_id));
    }
}

void release_image() {
    forget_document_end();
    delete[] mem;
    mem = nullptr;
    yaml = nullptr;
}

void write_memory(const char* image, const char* document) {
    if (image != nullptr && document != nullptr) {
        std::cout.write(image, document - image);
    }
}

void write_document(const char* document) {
    if (document != nullptr) {
        std::cout << document;
    } else {
        std::cout.setstate(std::ios::failbit);
    }
}

// ----- view boxes -----

// Length of the document, found incrementally: the document only grows, so
// the scan starts where the last one ended. Bounded by the document area.
std::size_t document_length() {
    if (known_document != yaml) {
        known_document = yaml;
        known_length = 0;
    }
    const std::size_t area = static_cast<std::size_t>(document_capacity) + 1;
    const void* end = std::memchr(yaml + known_length, '\0', area - known_length);
    known_length = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - yaml)
                                  : area;
    return known_length;
}

// A bounded writer into a caller's buffer: pieces that do not fit leave it
// marked as overflowed. It allocates nothing and calls nothing that is not
// async-signal-safe, so a signal handler composes with it too.
struct Writer {
    char* out;
    std::size_t room;  // bytes that may be written, the final NUL included
    std::size_t size = 0;
    bool overflowed = false;

    Writer& put(std::string_view piece) {
        if (overflowed || piece.size() >= room - size) {
            overflowed = true;
        } else {
            std::memcpy(out + size, piece.data(), piece.size());
            size += piece.size();
        }
        return *this;
    }

    // A number in decimal, as printf "%d" or "%zu" writes it.
    template <typename Number>
    Writer& number(Number value) {
        char digits[number_text_size];
        const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, value);
        return put(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
    }
};

// What a box is made of, apart from its text.
struct BoxFields {
    int number;
    std::string_view background;
    int width;
    int height;
    std::string_view color;
    std::string_view border;
    int position;
    std::size_t length;
};

// Writes the two elements of a box and a NUL into out, which has room bytes;
// returns their length, or 0 when they do not fit. The one place that knows
// the layout of a box.
std::size_t compose_box(char* out, std::size_t room, const BoxFields& box) {
    if (room == 0) {
        return 0;
    }
    Writer w{out, room};
    w.put(quorvel_view_prefix).number(box.number).put(":\n  style:\n    width: ").number(box.width);
    w.put("\n    height: ").number(box.height);
    w.put("\n    marginLeft: 10\n    backgroundColor: ").put(box.background);
    if (!box.border.empty()) {
        w.put("\n    borderColor: ").put(box.border).put("\n    borderWidth: 2\n");
    } else {
        w.put("\n    marginTop: 1\n");
    }
    w.put("  children: [").put(quorvel_text_prefix).number(box.number).put("]\n");
    w.put(quorvel_text_prefix).number(box.number);
    w.put(":\n  style:\n    fontSize: 18\n    marginLeft: 10\n    color: ").put(box.color);
    w.put("\n  pos: ").number(box.position).put("\n  len: ").number(box.length).put("\n");
    if (w.overflowed) {
        return 0;
    }
    out[w.size] = '\0';
    return w.size;
}

// The text's bytes at offset, then a NUL; text.data()[text.size()] is a NUL.
// write_at stops at a NUL, so a text holding one is copied as it stands.
void store_text(int offset, std::string_view text) {
    if (text.find('\0') == std::string_view::npos) {
        write_at(mem, offset, text.data());
    } else {
        std::memcpy(mem + offset, text.data(), text.size());
        mem[offset + static_cast<std::ptrdiff_t>(text.size())] = '\0';
    }
}

void warn_box_left_out() {
    static bool warned = false;
    if (!warned) {
        warned = true;
        warn("view box left out: the exchange image is full (or not set up).");
    }
}

void emit_cell(const std::string& text, int width, int height, int font_size,
               const std::string& border) {
    text_in_box(text, "white", width, height, font_size, "black", border);
}

constexpr int header_width = 200;
constexpr int header_height = 20;
constexpr int header_font = 18;
constexpr int cell_width = 75;
constexpr int cell_height = 30;
constexpr int cell_font = 30;

void show_array_header(const char* type_name) {
    emit_cell("", header_width, header_height, header_font, "");
    emit_cell(type_name, header_width, header_height, header_font, "");
}

void show_array_cell(const std::string& text) {
    emit_cell(text, cell_width, cell_height, cell_font, "black");
}

const char* bool_text(bool value) { return value ? "true" : "false"; }

const char* verdict(bool agree) { return agree ? " == " : " != "; }

std::string quoted_or_null(const char* text) {
    return text == nullptr ? std::string("null") : "\"" + std::string(text) + "\"";
}

// The string at a + pos, or null when a is null or pos lies outside it.
const char* string_at(const char* a, int pos) {
    if (a == nullptr || pos < 0 || std::memchr(a, '\0', static_cast<std::size_t>(pos)) != nullptr) {
        return nullptr;
    }
    return a + pos;
}

bool same_string(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    const int la = length_of(a, 0);
    if (la != length_of(b, 0)) {
        return false;
    }
    return la <= 0 || std::memcmp(a, b, static_cast<std::size_t>(la)) == 0;
}

// ----- results that survive the exercise's faults -----
//
// Between init() and quit() the library stands guard: the exercise's own
// standard output is kept in an unlinked file, and a fatal signal, an
// uncaught exception or a non-zero exit still sends the host every whole box
// made so far plus one red box that names the fault. The stream is written
// at most once, by whichever of quit() and those paths claims it first.

// The box composer's buffer for ordinary boxes: a whole document area.
char box_buffer[document_capacity + 1];

// The document length, box count and next text position after the last
// whole box. A signal can interrupt text_in_box anywhere, so two slots are
// kept and an atomic index names the one that is complete.
struct Committed {
    std::size_t length = 0;
    int boxes = 0;
    int text_pos = text_origin;
};
Committed committed_slots[2];
std::atomic<int> committed_index{0};

void commit_boxes(std::size_t length, int boxes, int text_pos) {
    const int next = 1 - committed_index.load(std::memory_order_relaxed);
    committed_slots[next] = Committed{length, boxes, text_pos};
    std::atomic_signal_fence(std::memory_order_release);
    committed_index.store(next, std::memory_order_relaxed);
}

Committed last_commit() {
    const int index = committed_index.load(std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_acquire);
    return committed_slots[index];
}

constexpr int fatal_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGXCPU};
constexpr std::size_t fatal_signal_count = sizeof fatal_signals / sizeof fatal_signals[0];
constexpr std::size_t alternate_stack_size = 64 * 1024;  // room for a handler after a stack overflow
constexpr std::size_t fault_text_size = 512;
constexpr std::size_t fault_box_size = 1024;   // a fault box's elements, with room to spare
constexpr std::size_t copy_chunk_size = 4096;  // kept output is copied in pieces this big
constexpr std::size_t kept_preview_size = 200;  // bytes of kept output shown in its box
constexpr const char* ellipsis = "\xE2\x80\xA6";
constexpr int notice_width = 500;  // the fault and printed-output boxes: wide enough to read

alignas(16) char alternate_stack[alternate_stack_size];
stack_t previous_alternate_stack{};
struct sigaction previous_actions[fatal_signal_count];
std::terminate_handler previous_terminate = nullptr;

bool guarding = false;                  // between init() and quit()
std::atomic<bool> stream_claimed{false};  // the write-once flag of the stream
int host_out = -1;  // the host's standard output while the exercise's is kept
int kept_out = -1;  // the unlinked file that keeps the exercise's standard output
bool stdout_was_line_buffered = false;

char fault_text[fault_text_size];
char fault_box[fault_box_size];
char copy_chunk[copy_chunk_size];

// True for the first caller only: that one writes the stream.
bool claim_stream() { return !stream_claimed.exchange(true); }

// write(2) until all is written or it fails for good.
void write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void write_text(int fd, std::string_view text) { write_all(fd, text.data(), text.size()); }

int stream_out() { return host_out >= 0 ? host_out : STDOUT_FILENO; }

// Copies what the exercise printed so far to fd.
void copy_kept_output(int fd) {
    if (kept_out < 0) {
        return;
    }
    for (off_t at = 0;;) {
        const ssize_t n = pread(kept_out, copy_chunk, sizeof copy_chunk, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        write_all(fd, copy_chunk, static_cast<std::size_t>(n));
        at += n;
    }
}

// Writes the exchange stream as quit(nullptr) would, from the last whole
// box on, with one more red check box holding text when it fits.
void write_fault_stream(std::string_view text) {
    const int fd = stream_out();
    const Committed done = last_commit();
    const BoxFields fields{done.boxes + 1, quorvel_fail_colour, notice_width, header_height, "white", "",
                           done.text_pos, text.size()};
    const bool text_fits =
        mem != nullptr && text.size() < static_cast<std::size_t>(memory_size - done.text_pos);
    std::size_t box_size = 0;
    if (yaml != nullptr && text_fits && done.length <= static_cast<std::size_t>(document_capacity)) {
        const std::size_t room = static_cast<std::size_t>(document_capacity) + 1 - done.length;
        box_size = compose_box(fault_box, std::min(room, sizeof fault_box), fields);
    }
    if (yaml != nullptr) {
        write_all(fd, yaml, done.length);
        write_all(fd, fault_box, box_size);
    }
    write_text(fd, quorvel_separator);
    if (mem == nullptr) {
        return;
    }
    if (box_size == 0) {
        write_all(fd, mem, static_cast<std::size_t>(memory_size));
        return;
    }
    const auto at = static_cast<std::size_t>(done.text_pos);
    write_all(fd, mem, at);
    write_text(fd, text);
    write_all(fd, "", 1);
    const std::size_t after = at + text.size() + 1;
    write_all(fd, mem + after, static_cast<std::size_t>(memory_size) - after);
}

// The stream with the fault box, then the kept output on standard error;
// only for the first caller.
void report_fault(std::string_view text) {
    if (claim_stream()) {
        write_fault_stream(text);
        copy_kept_output(STDERR_FILENO);
    }
}

const char* signal_text(int signal) {
    switch (signal) {
        case SIGSEGV: return "crashed: invalid memory access (SIGSEGV)";
        case SIGBUS: return "crashed: invalid memory access (SIGBUS)";
        case SIGFPE: return "crashed: arithmetic error, such as a division by zero (SIGFPE)";
        case SIGILL: return "crashed: illegal instruction (SIGILL)";
        case SIGABRT: return "crashed: the program aborted (SIGABRT)";
        case SIGTERM: return "stopped: the host ended the program (SIGTERM)";
        case SIGXCPU: return "stopped: CPU time limit reached (SIGXCPU)";
        default: return "crashed";
    }
}

void restore_signal_actions() {
    for (std::size_t i = 0; i < fatal_signal_count; ++i) {
        sigaction(fatal_signals[i], &previous_actions[i], nullptr);
    }
}

// Writes the stream, puts back what handled the signal before init() (the
// default action or a sanitizer's handler) and raises it again: it is
// delivered when the handler returns, so the process ends as it would have.
// The other fatal signals are blocked meanwhile; a fault in here ends the
// process by the default action.
void on_fatal_signal(int signal) {
    const int saved_errno = errno;
    report_fault(signal_text(signal));
    restore_signal_actions();
    raise(signal);
    errno = saved_errno;
}

// Appends the first bytes of a text of total bytes, cut to at most limit
// bytes at a UTF-8 character boundary, then " … (N more bytes)" when cut.
// head holds the text's first bytes, at least limit + 1 of them when the
// text is longer than limit.
void put_cut(Writer& w, std::string_view head, std::size_t total, std::size_t limit) {
    constexpr int longest_character = 4;
    std::size_t cut = std::min(total, limit);
    for (int back = 1; back < longest_character && cut > 0 && cut < total && cut < head.size() &&
                       (static_cast<unsigned char>(head[cut]) & 0xC0U) == 0x80U;
         ++back) {
        --cut;
    }
    w.put(head.substr(0, cut));
    if (cut < total) {
        w.put(" ");
        w.put(ellipsis);
        w.put(" (");
        w.number(total - cut);
        w.put(" more bytes)");
    }
}

[[noreturn]] void on_terminate() {
    if (guarding) {
        Writer w{fault_text, sizeof fault_text};
        try {
            throw;
        } catch (const std::exception& error) {
            const std::string_view what = error.what();
            w.put("uncaught exception: ");
            put_cut(w, what, what.size(), kept_preview_size);
        } catch (...) {
            w.put("uncaught exception that is not a std::exception");
        }
        report_fault(std::string_view(fault_text, w.size));
    }
    if (previous_terminate != nullptr) {
        previous_terminate();
    }
    std::abort();
}

void flush_exercise_output() {
    std::cout.flush();
    std::fflush(stdout);
}

// Gives the host's standard output back to file descriptor 1.
void release_standard_output() {
    if (host_out >= 0) {
        flush_exercise_output();
        std::setvbuf(stdout, nullptr, stdout_was_line_buffered ? _IOLBF : _IOFBF, BUFSIZ);
        dup2(host_out, STDOUT_FILENO);
        close(host_out);
        host_out = -1;
    }
}

// While guarding, the library's own writes to standard output (terminate()
// of an image of the exercise's) go to the host: for the lifetime of this
// object, file descriptor 1 is the host's again.
class HostOutput {
public:
    HostOutput() : active_(host_out >= 0 && kept_out >= 0) {
        if (active_) {
            flush_exercise_output();
            dup2(host_out, STDOUT_FILENO);
        }
    }
    ~HostOutput() {
        if (active_) {
            flush_exercise_output();
            dup2(kept_out, STDOUT_FILENO);
        }
    }
    HostOutput(const HostOutput&) = delete;
    HostOutput& operator=(const HostOutput&) = delete;

private:
    bool active_;
};

void stop_guarding() {
    if (!guarding) {
        return;
    }
    guarding = false;
    restore_signal_actions();
    sigaltstack(&previous_alternate_stack, nullptr);
    std::set_terminate(previous_terminate);
    release_standard_output();
    if (kept_out >= 0) {
        close(kept_out);
        kept_out = -1;
    }
}

// At exit before quit(): with a non-zero status, the stream with a box that
// names the status and the kept output on standard error; with status 0 no
// stream, and the kept output goes to standard output as if never kept.
void on_exit_status(int status, void* /*unused*/) {
    if (!guarding) {
        return;
    }
    flush_exercise_output();
    if (status != 0) {
        Writer w{fault_text, sizeof fault_text};
        w.put("exited with status ");
        w.number(status);
        w.put(" before the exercise finished");
        report_fault(std::string_view(fault_text, w.size));
    } else if (!stream_claimed) {  // a claimed stream has had the kept output already
        copy_kept_output(stream_out());
    }
    stop_guarding();
}

// An unlinked file in TMPDIR (or /tmp) for the exercise's standard output.
int open_kept_file() {
    const char* dir = std::getenv("TMPDIR");
    const std::string base = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    int fd = open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string pattern = base + "/quorvel-output-XXXXXX";
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0) {
            unlink(pattern.c_str());
        }
    }
    return fd;
}

// Sends file descriptor 1 to the kept file; on any failure standard output
// stays as it is.
void keep_standard_output() {
    flush_exercise_output();
    kept_out = open_kept_file();
    if (kept_out < 0) {
        return;
    }
    host_out = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (host_out < 0 || dup2(kept_out, STDOUT_FILENO) < 0) {
        if (host_out >= 0) {
            close(host_out);
            host_out = -1;
        }
        close(kept_out);
        kept_out = -1;
        return;
    }
    // Line by line, as on a terminal: printed lines are kept even when the
    // exercise crashes before its stdio buffer is flushed.
    stdout_was_line_buffered = __flbf(stdout) != 0;
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void install_signal_handlers() {
    stack_t stack{};
    stack.ss_sp = alternate_stack;
    stack.ss_size = sizeof alternate_stack;
    sigaltstack(&stack, &previous_alternate_stack);
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : fatal_signals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (std::size_t i = 0; i < fatal_signal_count; ++i) {
        sigaction(fatal_signals[i], &action, &previous_actions[i]);
    }
}

void start_guarding() {
    static bool exit_hook = false;
    if (guarding) {
        return;
    }
    if (!exit_hook) {
        exit_hook = on_exit(on_exit_status, nullptr) == 0;
    }
    const Committed before = last_commit();
    commit_boxes(yaml != nullptr ? document_length() : 0, before.boxes, before.text_pos);
    keep_standard_output();
    previous_terminate = std::set_terminate(on_terminate);
    install_signal_handlers();
    guarding = true;
}

// The text of the box that shows the kept output: its first bytes, cut as
// put_cut() does; empty when nothing was printed.
std::string kept_output_preview() {
    const off_t size = kept_out >= 0 ? lseek(kept_out, 0, SEEK_END) : 0;
    if (size <= 0) {
        return "";
    }
    char head[kept_preview_size + 1];
    const ssize_t n = pread(kept_out, head, sizeof head, 0);
    char text[fault_text_size];
    Writer w{text, sizeof text};
    put_cut(w, std::string_view(head, n > 0 ? static_cast<std::size_t>(n) : 0),
            static_cast<std::size_t>(size), kept_preview_size);
    return std::string(text, w.size);
}

// At quit(): with the mode "none" the kept output goes to standard output as
// if it had never been kept; otherwise to standard error, whole, and a white
// box shows its first bytes.
void settle_kept_output(const char* mode) {
    flush_exercise_output();
    const std::string preview = kept_output_preview();
    if (preview.empty()) {
        return;
    }
    if (same_text(mode, "none")) {
        release_standard_output();
        copy_kept_output(STDOUT_FILENO);
        return;
    }
    copy_kept_output(STDERR_FILENO);
    text_in_box(preview, "white", notice_width, header_height, header_font, "black", "");
}

// quit() and terminate() of the run's image end the guard: they claim the
// stream, settle the kept output and put everything back as it was.
void end_guard(const char* mode) {
    if (guarding) {
        claim_stream();
        settle_kept_output(mode);
        stop_guarding();
    }
}

char time_text[time_text_size];

}  // namespace

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// Fuzzing runs many exchanges in one process; this restarts box numbers and
// text positions for the next one. It exists only in fuzzing builds.
namespace {
int box_generation = 0;
}
void quorvel_fuzz_restart_boxes() { ++box_generation; }
#endif

namespace {

// text_in_box() without copies of its strings: the one writer of boxes. The
// byte after the text is a NUL (the text of a std::string or a label buffer).
void emit_box(std::string_view text, std::string_view background, int width, int height,
              std::string_view color, std::string_view border) {
    static int counter = 0;
    static int mem_pos = text_origin;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    static int seen_generation = 0;
    if (seen_generation != box_generation) {
        seen_generation = box_generation;
        counter = 0;
        mem_pos = text_origin;
    }
#endif
    const std::size_t text_room = static_cast<std::size_t>(memory_size - mem_pos);
    if (mem == nullptr || yaml == nullptr || text.size() >= text_room) {
        warn_box_left_out();
        return;
    }
    const std::size_t length = document_length();
    const std::size_t document_room = static_cast<std::size_t>(document_capacity) + 1 - length;
    const BoxFields fields{counter + 1, background, width, height, color, border, mem_pos,
                           text.size()};
    const std::size_t box_size = compose_box(box_buffer, document_room, fields);
    if (box_size == 0) {
        warn_box_left_out();
        return;
    }
    ++counter;
    append(yaml + length, box_buffer);
    store_text(mem_pos, text);
    mem_pos += static_cast<int>(text.size()) + 1;
    commit_boxes(length + box_size, counter, mem_pos);
}

void emit_check_box(bool ok, std::string_view label) {
    emit_box(label, ok ? quorvel_pass_colour : quorvel_fail_colour, header_width, header_height,
             "white", "");
}

}  // namespace

// ----- framing -----

void swap_into_position(std::istream& in, char*& image, char*& document) {
    const std::unique_ptr<char[]> staging(new char[image_size]);
    in.read(staging.get(), image_size);
    int n = static_cast<int>(in.gcount());
    if (n == image_size) {
        warn_read_limit();
        n = image_size - 1;
    }
    staging[static_cast<std::size_t>(n)] = '\0';
    frame(staging.get(), n, image, document);
}

void initialize(char*& image, char*& document) { swap_into_position(std::cin, image, document); }

void initialize_empty(char*& image, char*& document) { new_image(image, document); }

void initialize_from_file(const char* path, char*& image, char*& document) {
    std::ifstream file;
    if (path != nullptr) {
        file.open(path, std::ios::binary);
    }
    swap_into_position(file, image, document);
}

void read_file_into_mem(const char* path, char* buffer, int offset) {
    if (buffer == nullptr || offset < 0 || offset >= image_size) {
        return;
    }
    std::ifstream file;
    if (path != nullptr) {
        file.open(path, std::ios::binary);
    }
    if (!file) {
        buffer[offset] = '\0';
        return;
    }
    const std::streamsize wanted = image_size - offset;
    file.read(buffer + offset, wanted);
    const std::streamsize count = file.gcount();
    if (count < wanted) {
        buffer[offset + count] = '\0';
    } else {
        warn_read_limit();
        buffer[image_size - 1] = '\0';
    }
}

// ----- run start and finish -----

void init(const char* mode) {
    initialize(mem, yaml);
    response = new char[image_size];
    query_str = new char[image_size];
    query_str[0] = '\0';
    read_message_id();
    if (same_text(mode, store_input_mode)) {
        store_input();
    }
    start_guarding();
}

bool just_starting() { return incoming_message_id == 0; }

void terminate(const char* image, const char* document) {
    if (image != nullptr && image == mem) {
        end_guard(nullptr);
    }
    const HostOutput to_host;
    write_document(document);
    std::cout.write(separator, separator_length);
    write_memory(image, document);
    if (image != nullptr && image == mem) {
        release_image();
    } else {
        delete[] image;
    }
}

void quit(const char* mode) {
    end_guard(mode);
    delete[] response;
    response = nullptr;
    if (same_text(mode, "none")) {
        // Nothing is written.
    } else if (same_text(mode, "just yaml")) {
        write_document(yaml);
    } else if (same_text(mode, "just mem")) {
        write_memory(mem, yaml);
    } else {
        terminate(mem, yaml);
        return;
    }
    release_image();
}

// ----- view boxes -----

void text_in_box(std::string text, std::string background, int width, int height,
                 int /*font_size*/, std::string color, std::string border) {
    emit_box(text, background, width, height, color, border);
}

// ----- checks -----

void show_correctness_box(bool ok, std::string label) { emit_check_box(ok, label); }

void check_equal(bool a, bool b) {
    show_correctness_box(a == b, std::string(bool_text(a)) + verdict(a == b) + bool_text(b));
}

void check_equal(char a, char b) {
    show_correctness_box(a == b, std::string(1, a) + verdict(a == b) + std::string(1, b));
}

void check_equal(int a, int b) {
    char label[2 * number_text_size + sizeof " != "];
    Writer w{label, sizeof label};
    w.number(a).put(verdict(a == b)).number(b);
    label[w.size] = '\0';
    emit_check_box(a == b, std::string_view(label, w.size));
}

void check_equal(const char* a, int pos, const char* b) {
    const char* left = string_at(a, pos);
    const bool agree = same_string(left, b);
    show_correctness_box(agree, quoted_or_null(left) + verdict(agree) + quoted_or_null(b));
}

void check_equal(const char* a, const char* b) { check_equal(a, 0, b); }

// ----- the checks' templates -----

namespace quorvel_detail {

void put(Label& label, std::string_view text) { label.append(text.data(), text.size()); }

namespace {

template <typename Number>
void put_chars(Label& label, Number value) {
    char text[shortest_text_size];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    label.append(text, static_cast<std::size_t>(written.ptr - text));
}

}  // namespace

void put_integer(Label& label, long long value) { put_chars(label, value); }
void put_integer(Label& label, unsigned long long value) { put_chars(label, value); }
void put_floating(Label& label, float value) { put_chars(label, value); }
void put_floating(Label& label, double value) { put_chars(label, value); }
void put_floating(Label& label, long double value) { put_chars(label, value); }

void put_text(Label& label, const char* text, std::size_t size) {
    if (text == nullptr) {
        label += "null";
        return;
    }
    label += '"';
    label.append(text, size);
    label += '"';
}

void put_list_rest(Label& label, std::size_t more) {
    label += ", ";
    label += ellipsis;
    label += " (";
    put_chars(label, more);
    label += " more)";
}

void emit_check(bool agree, Label& label) { emit_check_box(agree, label); }

namespace {

template <typename Floating>
void emit_near_label(Floating a, Floating b, bool agree) {
    emit_check_box(agree, std::to_string(a) + (agree ? " ~ " : " != ") + std::to_string(b));
}

}  // namespace

void emit_near(double a, double b, bool agree) { emit_near_label(a, b, agree); }
void emit_near(long double a, long double b, bool agree) { emit_near_label(a, b, agree); }

void show_array_header(const char* type_name) { ::show_array_header(type_name); }
void show_int_cell(long long value) { show_array_cell(std::to_string(value)); }
void show_int_cell(unsigned long long value) { show_array_cell(std::to_string(value)); }

}  // namespace quorvel_detail

// ----- array display -----

void show_int_array(const int* values, int count) {
    show_array_header("int");
    for (int i = 0; values != nullptr && i < count; ++i) {
        show_array_cell(std::to_string(values[i]));
    }
}

void show_char_array(std::string_view chars) {
    const std::size_t most = static_cast<std::size_t>(std::numeric_limits<int>::max());
    show_char_array(chars.data(), static_cast<int>(std::min(chars.size(), most)));
}

void show_char_array(const std::vector<char>& chars) {
    show_char_array(std::string_view(chars.data(), chars.size()));
}

void show_char_array(const char* chars, int count) {
    show_array_header("char");
    for (int i = 0; chars != nullptr && i < count; ++i) {
        show_array_cell(chars[i] == '\0' ? std::string("\xE2\x9D\x9A")
                                         : std::string{'\'', chars[i], '\''});
    }
}

// ----- strings, clock and random numbers -----

char* echo_string(const char* text) {
    const int length = text == nullptr ? 0 : length_of(text, 0);
    char* copy = new char[static_cast<std::size_t>(length) + 1];
    if (length > 0) {
        std::memcpy(copy, text, static_cast<std::size_t>(length));
    }
    copy[length] = '\0';
    return copy;
}

std::int64_t current_time() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() /
           nanos_per_milli;
}

char* time_of_day(long millis) {
    const std::time_t seconds = static_cast<std::time_t>(millis / millis_per_second);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr ||
        std::strftime(time_text, time_text_size, "%I:%M %p", &local) == 0) {
        time_text[0] = '\0';
    }
    return time_text;
}

char* time_of_day(const char* text, int pos) {
    if (text == nullptr || pos < 0) {
        throw std::invalid_argument("stoll");
    }
    const std::string number(text + pos);
    char* stop = nullptr;
    errno = 0;
    const long long millis = std::strtoll(number.c_str(), &stop, 10);
    if (stop == number.c_str()) {
        throw std::invalid_argument("stoll");
    }
    if (errno == ERANGE) {
        throw std::out_of_range("stoll");
    }
    return time_of_day(static_cast<long>(millis));
}

double random_number() {
    const double value = generator();
    return value < 1.0 ? value : std::nextafter(1.0, 0.0);
}
