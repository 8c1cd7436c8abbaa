// quorvel/quorvel.h - support library for exercise programs.
//
// ---------------------------------------------------------------------------
// HOW A RUN GOES (one exchange per process)
// ---------------------------------------------------------------------------
// A host starts the exercise program and writes an exchange stream to its
// standard input:
//
//     <YAML document, containing a "message_id: N" line><separator><memory bytes>
//
// (the separator is quorvel_separator, a newline, three hyphens and a newline;
// every constant of the stream and the image is in quorvel/exchange_format.h)
//
// The program then does, in this order and once each:
//
//     init(nullptr);          // frame stdin into the exchange image
//     check_equal(2, 3);      // ...checks and array displays add boxes...
//     quit(nullptr);          // write document, separator, memory to stdout
//
// The exchange image is one array of image_size (100,000) bytes:
//
//     mem ->  [0 .. 9,999]       memory area: opaque bytes, no terminator;
//                                bytes the host did not send hold '~'.
//     yaml -> [10,000 .. 99,999] document area: the YAML document as
//                                NUL-terminated text (at most 89,999 chars).
//
// Offsets 0..499 of the memory area belong to the host; box texts go from
// offset text_origin (500) on. Nothing is written to standard output before
// quit() (unless the student's code fails first, see below); quit() writes
// with write(2), so its bytes leave at once, after what the exercise printed
// before it. Problems never stop the program: they are reported as warnings
// on standard error and the run goes on with the fallback stated per
// function.
// Every warning starts with "Warning:  " (inside init: "Warning in init:  ")
// and ends with a newline and a flush, except the read-limit warning
// "Warning:  did not reach EOF after 100000 characters." which has no newline.
//
// ---------------------------------------------------------------------------
// GLOBALS (all process-wide and unguarded; see THREADS for the calls)
// ---------------------------------------------------------------------------
//   mem                  owning pointer to the exchange image; null before
//                        init() and after quit().
//   yaml                 the document area, always mem + document_offset;
//                        null before init() and after quit().
//   response             100,000 bytes for the exercise's own use, allocated
//                        by init() with unset contents, released by quit()
//                        (then null). The library never writes it.
//   query_str            100,000 bytes allocated by init() holding "", for the
//                        exercise's own use. Never released by the library.
//   incoming_message_id  the id read from the incoming document; -1 until a
//                        document with a usable id has been read.
//   rd, rng, distribution, generator
//                        random state set up before main() runs: rd is the
//                        system's nondeterministic source ("default"), rng an
//                        MT19937 seeded once from rd, distribution uniform on
//                        [0, 1), and generator a bound copy of distribution
//                        and of the freshly seeded rng that random_number()
//                        draws from. Drawing from rng does not change the
//                        sequence of random_number(). For a repeatable run,
//                        assign generator = std::bind(distribution,
//                        std::mt19937(seed)).
//
// Ownership: the exchange image belongs to the library from init() to quit().
// Released pointers (mem, yaml, response) are reset to null, so a second
// quit() writes nothing and frees nothing.
//
// Box counters: every box gets the next number (1, 2, ...) and the next text
// position in the memory area; neither is ever reset within a process.
//
// ---------------------------------------------------------------------------
// THREADS AND FORKED CHILDREN
// ---------------------------------------------------------------------------
// Checks, show_correctness_box(), text_in_box() and the array displays may be
// called from several threads at once: each box is whole and gets the next
// number, and the boxes of one array display stay together. init(), quit()
// and terminate() are not for calling while other threads add boxes, and
// the globals above are not guarded. A fault in any thread sends every box
// made so far, once.
//
// A child made by fork() without exec is not the run: its boxes are its own
// and never sent. In the child, a crash, an uncaught exception, exit(n) for
// any n and quit() write nothing to the shared standard output and pass no
// kept output on; the child ends as it would without the library. What the
// child prints while the parent keeps standard output is kept with the
// parent's.
//
// ---------------------------------------------------------------------------
// WHEN THE STUDENT'S CODE FAILS (between init() and quit())
// ---------------------------------------------------------------------------
// The host still gets every whole box made so far, plus one red box, the
// fault box (a failed check's colours and text, no border, as wide as its
// text like a fitted check, and quorvel_fault_where_height or
// quorvel_fault_height high: its signature in exchange_format.h), whose text
// names what happened and, after it, where:
//
//   fatal signal       "crashed: invalid memory access (SIGSEGV)" (SIGBUS too),
//                      "crashed: arithmetic error, such as a division by zero
//                      (SIGFPE)", "crashed: illegal instruction (SIGILL)",
//                      "crashed: the program aborted (SIGABRT)", "stopped: the
//                      host ended the program (SIGTERM)", "stopped: CPU time
//                      limit reached (SIGXCPU)", "stopped: file size limit
//                      reached (SIGXFSZ)". A stack overflow is a SIGSEGV:
//                      the handler runs on its own 64 KiB stack. SIGTERM,
//                      SIGXCPU and SIGXFSZ that the host left ignored stay
//                      ignored: no handler is installed for them (a write
//                      past the file size limit then fails with EFBIG).
//   uncaught exception "uncaught exception: <what()>" for a std::exception
//                      (what() cut to 200 bytes as below), else "uncaught
//                      exception that is not a std::exception".
//   std::terminate()   "terminate called without an active exception" (also
//   without exception  a std::thread destroyed unjoined); then SIGABRT, as
//                      without the library.
//   exit(n), n != 0    "exited with status <n> before the exercise finished"
//   (or return n from main)
//   AddressSanitizer   "<its description>: read of N bytes" (or write), as
//                      "heap-buffer-overflow: read of 4 bytes"
//   UndefinedBehavior- its own message, "Signed integer overflow: ... cannot
//   Sanitizer          be represented in type 'int'", and its own place
//
// The where is the innermost frame of the exercise's own code, in one form:
// " at FILE:LINE in FUNCTION", for example "crashed: invalid memory access
// (SIGSEGV) at segv.cpp:5 in second". FILE is the source's base name;
// FUNCTION is demangled without return type or parameters ("second",
// "Average::value", "f<int>", "ns::A::value::{lambda}"). It is where a
// signal interrupted the thread that took it (for SIGTERM and SIGXCPU, the
// loop that never ended), where an exception was thrown or std::terminate()
// called, where exit() was called; return n from main has none. Frames of
// the library, of shared objects (libc, libstdc++), of a sanitizer's
// runtime, of the start-up code and of system headers are passed over, so
// v.at(i) names the student's line, never stl_vector.h; no such frame, no
// where. Without debug information the where is " in FUNCTION" from the
// symbol table, and std:: and __gnu_cxx:: names are passed over too; a
// stripped program gets none. UndefinedBehaviorSanitizer's place is
// " at FILE:LINE". A text too wide for the widest box (1,000 px) is cut with
// " …" before the where, which always shows; a where wider than that box
// less 200 px has its function name cut with "…". When the text and its
// where do not fit the memory area but the text alone does, the box has no
// where.
//
// The where is looked up in a child process (made with _Fork()) that reads
// the debug information with GCC's libbacktrace; the stream waits for it at
// most 300 ms (QUORVEL_WHERE_DEADLINE_MS; 2 s in a build with the project's
// tests), then goes without it. A lookup that hangs or crashes costs nothing
// else. Built with QUORVEL_BACKTRACE off (or without libbacktrace), boxes
// have no where, as before. init() only prepares the lookup.
//
// The stream is written as quit(nullptr) would write it, at most once per
// process, with write(2) to the standard output the host gave (init() keeps
// a copy of it), so no state of stdio or std::cout can lose or split it:
// quit() claims it first, so a fault during or after quit() adds nothing.
// Whatever else finds the stream claimed (quit() in another thread,
// std::terminate, the exit hook, another fault) waits until it is written,
// and never frees the image or ends the process before. Then the process
// ends as it would have without the library: the signal's earlier
// disposition (the default, or a sanitizer's handler) is put back and the
// signal raised again; an exception goes on to the terminate handler that
// was set before init() (by default abort(), whose SIGABRT then writes
// nothing more); the exit status stays; a sanitizer ends the process as it
// ends it, its report on standard error. A box that does not fit the image
// is left out, and the stream goes out without it. exit(0) without quit()
// writes no stream, as an exercise may mean that.
//
// Standard output of the exercise: whatever it writes there between init()
// and quit() (printf, std::cout, write(1, ...), a program it runs) never
// lands inside the stream. init() flushes C stdio and std::cout, then sends
// file descriptor 1 into a pipe until quit(). The pipe holds at most 1 MiB
// (less where the system allows less); printing past that neither blocks nor
// ends the program: the writes fail at once and are left out. Where the kept
// bytes go:
//   quit("none"), or exit(0) without quit()   standard output, in order
//   quit() with any other mode                standard error; and one box
//        (quorvel_notice_width x quorvel_check_height, 500 x 20, background
//        "white", text "black", no border) that shows the first 200 bytes,
//        cut at a UTF-8 character, then " … (N more bytes)" when cut, or
//        " … (N more bytes, then cut at 1 MiB)" when the pipe filled
//   a fault, uncaught exception, exit(n != 0) standard error
// When the pipe filled, the kept bytes are followed by the line "quorvel: the
// printed output reached its limit of 1 MiB; what followed was left out".
// Nothing printed, nothing added: the output is what it was without the
// guard. While kept, C stdio's stdout is line-buffered, as on a terminal, so
// printed lines survive a crash (a partial line still in the buffer is lost);
// quit() puts its buffering back and clears the error that a write past the
// limit left on stdout and std::cout. When no pipe can be made (no file
// descriptors left), standard output is left alone. Output before init() and
// after quit() is never touched.
// ---------------------------------------------------------------------------
#ifndef QUORVEL_QUORVEL_H
#define QUORVEL_QUORVEL_H

#include <quorvel/check_templates.h>
#include <quorvel/exchange_format.h>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

extern char* mem;
extern char* yaml;
extern char* response;
extern char* query_str;
extern int incoming_message_id;

// ----- Framing ---------------------------------------------------------------

// Reads up to image_size bytes from in (one read) and frames them into a new
// image; stores its start in mem and its document area in yaml. Does not
// release an image mem pointed to before. Outcomes:
//   * the separator first found at k: the document area holds the k
//     bytes before it plus its opening newline; the up to 10,000 bytes after it
//     fill the memory area, the rest of which stays '~'; later bytes are
//     ignored without a message.
//   * 100,000 bytes or more: "Warning:  did not reach EOF after 100000
//     characters." (no newline) and only the first 99,999 bytes are used.
//   * empty input: empty document, memory all '~', no message.
//   * no separator before the first NUL: "Warning:  did not find separator
//     between yaml and mem." and an empty document, memory all '~'.
//   * separator at k >= 89,999 (the document would not fit its area):
//     "Warning:  yaml of K characters does not fit in 89999; input discarded."
//     (K = k + 1) and, as without a separator, an empty document and memory
//     all '~'. The document is not cut: a cut could leave broken YAML.
void swap_into_position(std::istream& in, char*& mem, char*& yaml);

// swap_into_position() on standard input.
void initialize(char*& mem, char*& yaml);

// A new image without reading anything: empty document, memory all '~'.
void initialize_empty(char*& mem, char*& yaml);

// swap_into_position() on the file at path. A file that cannot be opened (or
// a null path) reads as empty input: empty document, memory all '~', no message.
void initialize_from_file(const char* path, char*& mem, char*& yaml);

// Reads the file at path into buffer + offset, buffer being image_size bytes.
// Outcomes:
//   * file shorter than image_size - offset: its bytes, then a NUL.
//   * longer or equal: "Warning:  did not reach EOF after 100000 characters."
//     (no newline, 100000 whatever the offset), and a NUL at buffer[99,999].
//   * cannot be opened (or null path): a NUL at buffer[offset], no message.
//   * null buffer or offset outside 0..99,999: nothing is read or written.
void read_file_into_mem(const char* path, char* buffer, int offset);

// ----- Run start and finish --------------------------------------------------

// Starts the run: frames standard input (initialize), allocates response and
// query_str, and reads "message_id:" from the document. mode may be null; the
// only recognised mode is exactly "store input" (case-sensitive, no blanks),
// which archives the framed stream as input/<id>.txt (document, separator,
// the 10,000 memory bytes), creating the directory "input" with mode 0775.
// Warnings (the run always goes on):
//   "Warning in init:  unable to find message id!"   non-empty document with
//        no usable id (missing, not an integer, or outside 32 bits); id stays.
//   "Warning in init:  invalid message id <id>"      negative id; it is stored
//        but no archive is written.
//   "Warning in init:  unable to create directory input"
//   "Warning in init:  unable to open file input/<id>.txt"
//   "Warning in init:  unable to write file input/<id>.txt"  the archive could
//        not be written in full (a disk full, say).
// An empty document prints nothing and leaves the id at -1; with "store
// input" the directory is still created but no archive is written.
// Call once per process, before any other call. Last, init() starts the
// guard described at the top ("When the student's code fails"): it installs
// the fatal-signal handlers, the terminate handler and an exit hook, and
// keeps standard output.
void init(const char* mode);

// True exactly when incoming_message_id is 0 (the host's first message).
bool just_starting();

// Writes the full exchange stream of the given image to standard output
// (with write(2), after flushing stdio and std::cout): the text at yaml, the
// separator, then yaml - mem bytes from mem; then releases the image through
// mem. A null yaml puts standard output into its failed state instead, and
// the library writes nothing at all from then on. A null mem writes no
// memory bytes. When mem is the global image, the call claims the stream as
// quit(nullptr) does (nothing is written when it was claimed before, or in a
// forked child), the globals mem and yaml are reset to null, and the guard
// ends. While the guard keeps standard output, the stream still goes to the
// host's.
void terminate(const char* mem, const char* yaml);

// Ends the run: releases response, writes by mode, releases the image and
// resets mem, yaml and response to null. Modes (whole, case-sensitive):
//   null, "" or anything else  document, separator, 10,000 memory bytes
//   "none"                     nothing
//   "just yaml"                the document only (null yaml: stdout failed)
//   "just mem"                 the 10,000 memory bytes only
// The output goes with write(2) to the standard output the host gave, after
// stdio and std::cout are flushed, so it follows whatever the exercise
// printed before. A second call writes and frees nothing. First, quit()
// claims the stream (only the first caller, in the process that called
// init(), writes it: a forked child's quit() writes nothing; when another
// thread's fault claimed it, quit() waits until that stream is written) and
// settles the kept standard output (see the top); once the stream is
// written it restores standard output, the signal dispositions and the
// terminate handler.
// A standard output that is non-blocking and full is waited for, as a
// blocking one would be. When a write of the stream fails for good, nothing
// more of it is written (the host finds it cut, never a shorter stream that
// looks whole) and quit() warns: "Warning:  the answer could not be written
// in full: <reason>." When the kept standard output cannot be read back to
// its end: "Warning:  what the exercise printed could not be read back in
// full: <reason>."
void quit(const char* mode);

// ----- View boxes ------------------------------------------------------------

// Appends one view box to the document and puts text into the memory area.
// For box N at text position P the document gains "View_correctness_N:" with
// its style (width, height, marginLeft: 10, backgroundColor, and either
// borderColor + borderWidth: 2 when border is not empty or marginTop: 1) and
// children, then "Text_correctness_N:" with fontSize: 18, marginLeft: 10,
// color, pos: P and len: L (L = text.size() in bytes). The L bytes of text go
// to mem[P..P+L-1], a NUL to mem[P+L]; the next box starts at P + L + 1.
// font_size is accepted and unused. Colours are copied unchanged.
// A box is written whole or not at all. It is left out when its elements
// would take the document past document_capacity characters, or its text and
// NUL do not fit before offset document_offset, or there is no image (before
// init, after quit). A left-out box takes no number and no text position, so
// the numbers stay consecutive. The first box left out in a process prints
// "Warning:  view box left out: the exchange image is full (or not set up)."
// once; later boxes that fit are still written. The document is assumed
// to only grow between boxes (append to it, do not cut it).
void text_in_box(std::string text, std::string background, int width, int height,
                 int font_size, std::string color, std::string border);

// ----- Correctness checks ----------------------------------------------------
// Each check builds a label from both values and the verdict (" == " when they
// agree, " != " otherwise) and emits one box: green "rgb(100, 255, 100)" when
// they agree, "red" otherwise (20 high, white text, no border). The five
// check_equal overloads below, near_equal of two doubles and
// show_correctness_box make boxes 200 wide, whatever their label. Every other
// check (the templates) makes its box as wide as its label:
//
//   width    the label's width at the 18 px text, estimated per character on
//            the generous side of a common sans-serif face (a blank 7 px,
//            digits and most letters 12, the widest letters 18, any character
//            of more than one byte 18), plus 20 px of margins; at least 200
//            and at most 1,000, and never 500, the width of the box that
//            named a fault in streams of earlier versions.
//   cut      a label wider than that is cut between characters and ends with
//            " …", before the marker below, which is never cut.
//   marker   a red check of two lists or two texts ends with where they first
//            differ: " at [i]", and " at [i]: x != y" with the two elements
//            (for texts: the two characters, as 'c') when the label does not
//            show position i (a list shows 10 elements; a label cut to fit).
//            When the shorter is the start of the longer: " (lengths m and n)".
//            A null text has no marker. Green labels have none.
//
// check_equal(a, b) takes two values of one family below, of any types
// within it, and is an ordinary function call:
//
//   family              types                 agree when     label of a value
//   ------------------  --------------------  -------------  -------------------
//   integers            every integer type,   same value as  decimal:
//                       signed or unsigned,   numbers (as    "4294967295 != -1"
//                       any width; unscoped   std::cmp_equal
//                       enums; bool and char  does)
//   truth values        bool with bool        same value     "true != false"
//   bytes               char with char        same byte      the byte: "a == a"
//   numbers             float, double, long   same exact     the shortest text
//                       double, with each     value (NaN     that reads back to
//                       other or integers     agrees with    the same value, at
//                                             nothing)       the wider floating
//                                                            type: "2.5 == 2.5",
//                                                            "0.30000000000000004
//                                                            != 0.3"; integers in
//                                                            decimal
//   text                std::string,          same bytes (a  in double quotes,
//                       std::string_view,     NUL inside a   "abc" != "abd";
//                       const char*, char     std::string    null, unquoted, for a
//                       arrays, nullptr       counts)        null pointer
//   lists               std::vector,          same length,   "{1, 2, 3}"; texts
//                       std::array, a braced  elements agree quoted, a char of a
//                       list {1, 2, 3}; of    by the rules   list of chars as 'c';
//                       any family, nested    above          past 10 elements
//                                                            ", … (N more)"
//
// Only two plain chars show as bytes; signed char, unsigned char, int8_t,
// uint8_t and bool beside an integer show as decimals ("1 == 1"). A char array
// is read up to its first NUL, like a const char*. A literal 0 beside a
// const char* is a null pointer, as it always was. Any other pair (a struct
// without ==, a text with a number, an integer wider than 64 bits) stops the
// compilation with a static_assert that names check_equal and what it accepts.

// Emits the check box for a verdict and a label.
void show_correctness_box(bool ok, std::string label);

// Label "true == true", "true != false", ...
void check_equal(bool a, bool b);

// Label: the byte a, the operator, the byte b ("a == a"). A NUL byte stays a
// NUL inside the label; the label is still 6 bytes long.
void check_equal(char a, char b);

// Label: the values as printf "%d" writes them ("2 != 3").
void check_equal(int a, int b);

// Compares the string at a + pos with b; they agree when they have the same
// length and the same bytes. Label: "<a+pos>" == "<b>" with double quotes.
// A null string (or a pos below 0 or past the end of a) shows as the word
// null without quotes: two nulls agree, a null never equals a real string.
void check_equal(const char* a, int pos, const char* b);

// check_equal(a, 0, b).
void check_equal(const char* a, const char* b);

// Every other pair of the table above.
template <typename A, typename B,
          std::enable_if_t<!quorvel_detail::leaves_to_c_strings<A, B>, int> = 0>
void check_equal(const A& a, const B& b) {
    quorvel_detail::check(a, b);
}

// A list against a braced list: check_equal(v, {1, 2, 3}), nested lists too.
template <typename A>
void check_equal(const A& a, std::initializer_list<quorvel_detail::element_t<A>> b) {
    quorvel_detail::check(a, b);
}

template <typename B>
void check_equal(std::initializer_list<quorvel_detail::element_t<B>> a, const B& b) {
    quorvel_detail::check(a, b);
}

// Any two arithmetic values (or unscoped enums), computed in their common
// type (double at the least): they agree when |a - b| < tolerance, so never for a NaN or for
// equal infinities. Label: both as printf "%f" writes them ("%Lf" for long
// double), " ~ " when they agree.
template <typename A, typename B>
void near_equal(A a, B b, quorvel_detail::near_t<A, B> tolerance = 1e-8) {
    static_assert(quorvel_detail::is_number<A> && quorvel_detail::is_number<B>,
                  "near_equal compares two numbers");
    using Common = quorvel_detail::near_t<A, B>;
    const Common x = static_cast<Common>(a);
    const Common y = static_cast<Common>(b);
    const Common difference = x > y ? x - y : y - x;
    constexpr bool two_doubles = std::is_same_v<A, double> && std::is_same_v<B, double>;
    quorvel_detail::append_near_box(x, y, difference < tolerance, !two_doubles);
}

// ----- Array display ---------------------------------------------------------
// Both emit an empty spacer box and a header box ("int" / "char"), 200 x 20
// without border, then one 75 x 30 cell with a black border per element.
// A count of 0 or less, or a null array, shows only the spacer and the header.

// Cells: each value as printf "%d" writes it.
void show_int_array(const int* values, int count);

// The same boxes for a std::vector or std::array of any integer type: each
// value in decimal.
template <typename Container>
void show_int_array(const Container& values) {
    static_assert(quorvel_detail::is_list<Container> &&
                      quorvel_detail::is_integer<quorvel_detail::element_t<Container>>,
                  "show_int_array shows a std::vector or std::array of integers");
    std::vector<decltype(quorvel_detail::widest(*std::begin(values)))> widened;
    widened.reserve(values.size());
    for (const auto& value : values) {
        widened.push_back(quorvel_detail::widest(value));
    }
    quorvel_detail::show_int_cells(widened.data(), widened.size());
}

// Cells: 'c' (three bytes, the byte unchanged even above 127) for a non-NUL
// byte, "\xE2\x9D\x9A" (U+275A) for a NUL. A NUL does not end the walk.
void show_char_array(const char* chars, int count);

// The same boxes for the bytes of a std::string, a std::string_view or a
// std::vector<char>, NULs included.
void show_char_array(std::string_view chars);
void show_char_array(const std::vector<char>& chars);

// ----- Strings, clock and random numbers -------------------------------------

// A new copy of text with its NUL; the caller releases it with delete[].
// A null text gives a new empty string.
char* echo_string(const char* text);

// The system clock in milliseconds since the Unix epoch.
std::int64_t current_time();

// The local time at millis as 12-hour clock text ("03:07 PM"), in a static
// 100-byte buffer shared by both overloads and overwritten by every call.
// Seconds are millis / 1000 truncated toward zero. A time the platform cannot
// convert (a year out of range) gives the empty text.
char* time_of_day(long millis);

// time_of_day() of the decimal number at text + pos, read as strtoll does
// (leading white space and a sign allowed, stops at the first non-digit).
// Throws std::invalid_argument("stoll") when there are no digits (also for a
// null text or a negative pos) and std::out_of_range("stoll") when the number
// does not fit in 64 bits.
char* time_of_day(const char* text, int pos);

// The next uniform draw from generator, in [0, 1). Two 32-bit engine outputs
// x1, x2 give (x1 + x2 * 2^32) / 2^64; the one case where rounding makes that
// exactly 1.0 returns the largest double below 1.0 instead, so
// int(random_number() * n) is always a valid index below n.
double random_number();

extern std::random_device rd;
extern std::mt19937 rng;
extern std::uniform_real_distribution<double> distribution;
extern std::function<double()> generator;

#endif  // QUORVEL_QUORVEL_H
