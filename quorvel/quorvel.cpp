// The exercise support library: framing, run start and finish, view boxes,
// checks, array display and utilities. Conventions and globals are described
// at the top of quorvel.h.
#include <quorvel/quorvel.h>
#include <quorvel/primitives.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
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
constexpr double near_tolerance = 1e-8;
constexpr std::size_t number_text_size = 24;  // the longest 64-bit number and a sign

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

void put(std::string& out, std::string_view piece) { out.append(piece.data(), piece.size()); }

// Appends a number in decimal, as printf "%d" or "%llu" writes it.
template <typename Number>
void put_number(std::string& out, Number value) {
    char digits[number_text_size];
    const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<std::size_t>(written.ptr - digits));
}

// The two elements of a box, composed in one reused buffer so that the
// document is touched once per box.
const std::string& box_elements(int number, const std::string& background, int width, int height,
                                const std::string& color, const std::string& border, int position,
                                std::size_t length) {
    static std::string box;
    box.clear();
    put(box, quorvel_view_prefix);
    put_number(box, number);
    put(box, ":\n  style:\n    width: ");
    put_number(box, width);
    put(box, "\n    height: ");
    put_number(box, height);
    put(box, "\n    marginLeft: 10\n    backgroundColor: ");
    put(box, background);
    if (!border.empty()) {
        put(box, "\n    borderColor: ");
        put(box, border);
        put(box, "\n    borderWidth: 2\n");
    } else {
        put(box, "\n    marginTop: 1\n");
    }
    put(box, "  children: [");
    put(box, quorvel_text_prefix);
    put_number(box, number);
    put(box, "]\n");
    put(box, quorvel_text_prefix);
    put_number(box, number);
    put(box, ":\n  style:\n    fontSize: 18\n    marginLeft: 10\n    color: ");
    put(box, color);
    put(box, "\n  pos: ");
    put_number(box, position);
    put(box, "\n  len: ");
    put_number(box, length);
    put(box, "\n");
    return box;
}

// The text's bytes at offset, then a NUL. write_at stops at a NUL, so a text
// holding one is copied as it stands.
void store_text(int offset, const std::string& text) {
    if (text.find('\0') == std::string::npos) {
        write_at(mem, offset, text.c_str());
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
}

bool just_starting() { return incoming_message_id == 0; }

void terminate(const char* image, const char* document) {
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
    const std::size_t room = static_cast<std::size_t>(memory_size - mem_pos);
    if (mem == nullptr || yaml == nullptr || text.size() >= room) {
        warn_box_left_out();
        return;
    }
    const std::string& box = box_elements(counter + 1, background, width, height, color, border,
                                         mem_pos, text.size());
    const std::size_t length = document_length();
    if (length + box.size() > static_cast<std::size_t>(document_capacity)) {
        warn_box_left_out();
        return;
    }
    ++counter;
    append(yaml + length, box.c_str());
    store_text(mem_pos, text);
    mem_pos += static_cast<int>(text.size()) + 1;
}

// ----- checks -----

void show_correctness_box(bool ok, std::string label) {
    text_in_box(std::move(label), ok ? quorvel_pass_colour : quorvel_fail_colour, header_width, header_height,
                header_font, "white", "");
}

void check_equal(bool a, bool b) {
    show_correctness_box(a == b, std::string(bool_text(a)) + verdict(a == b) + bool_text(b));
}

void check_equal(char a, char b) {
    show_correctness_box(a == b, std::string(1, a) + verdict(a == b) + std::string(1, b));
}

void check_equal(int a, int b) {
    show_correctness_box(a == b, std::to_string(a) + verdict(a == b) + std::to_string(b));
}

void near_equal(double a, double b) {
    const bool agree = std::fabs(a - b) < near_tolerance;
    show_correctness_box(agree, std::to_string(a) + (agree ? " ~ " : " != ") + std::to_string(b));
}

void check_equal(const char* a, int pos, const char* b) {
    const char* left = string_at(a, pos);
    const bool agree = same_string(left, b);
    show_correctness_box(agree, quoted_or_null(left) + verdict(agree) + quoted_or_null(b));
}

void check_equal(const char* a, const char* b) { check_equal(a, 0, b); }

// ----- array display -----

void show_int_array(const int* values, int count) {
    show_array_header("int");
    for (int i = 0; values != nullptr && i < count; ++i) {
        show_array_cell(std::to_string(values[i]));
    }
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
