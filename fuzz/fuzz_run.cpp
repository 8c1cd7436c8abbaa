// A whole run: frame a stream, let the input choose checks, array displays
// and labels, then write the answer as quit() does. The input is
// "stream, op bytes, one byte counting the op bytes".
//
// Oracles: the output is the document, the separator and 10,000 memory bytes; the
// host's memory bytes below offset 500 are untouched; the document stays in
// its area; and when the host's document accepts a new top-level key at all,
// the answer parses with libyaml and every box is paired with a text inside
// the memory area, numbered and placed in order.
#include "exchange.h"
#include "support/box_layout.h"
#include "reference.h"
#include "run_state.h"

#include <quorvel/quorvel.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[maybe_unused]] const bool quiet = (std::cerr.rdbuf(nullptr), true);  // warnings are not under test here
constexpr std::size_t host_bytes = text_origin;
constexpr std::size_t memory_size = quorvel_memory_size;
constexpr std::size_t separator_length = quorvel_separator_length;
constexpr std::size_t cells_per_step = 4;  // up to 1,020 cells: past a full document
constexpr std::size_t label_step = 64;

std::size_t inputs = 0;
std::size_t reached_boxes = 0;

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void report() {
    std::fprintf(stderr, "fuzz_run: %zu inputs, %zu reached box writing (%.1f%%)\n", inputs,
                 reached_boxes, inputs != 0 ? 100.0 * static_cast<double>(reached_boxes) / static_cast<double>(inputs) : 0.0);
}

double special_double(std::uint8_t byte) {
    const double values[] = {0.0, -0.0, 1.0, -1.0, 0.1 + 0.2, 0.3, 1.00001, 1e-9,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::denorm_min(), 1e300, -1e20, 12345.678};
    return values[byte % (sizeof values / sizeof values[0])];
}

// Reads op bytes one at a time; zeros once they run out.
struct Ops {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::uint8_t next() { return at < size ? data[at++] : 0; }
    bool more() const { return at < size; }
    std::string text(std::size_t length) {
        std::string out;
        while (out.size() < length && more()) {
            out += static_cast<char>(next());
        }
        return out;
    }
};

void run_op(Ops& ops) {
    const std::uint8_t op = ops.next();
    switch (op % 8) {
        case 0: check_equal(static_cast<int>(static_cast<std::int8_t>(ops.next())) * 1000003,
                            static_cast<int>(static_cast<std::int8_t>(ops.next()))); break;
        case 1: check_equal(static_cast<char>(ops.next()), static_cast<char>(ops.next())); break;
        case 2: check_equal((ops.next() & 1U) != 0, (op & 16U) != 0); break;
        case 3: near_equal(special_double(ops.next()), special_double(ops.next())); break;
        case 4: {
            const std::string a = ops.text(ops.next() % 16);
            const int pos = static_cast<int>(ops.next() % 20) - 2;
            const std::string b = ops.text(ops.next() % 16);
            check_equal((op & 32U) != 0 ? nullptr : a.c_str(), pos, (op & 64U) != 0 ? nullptr : b.c_str());
            break;
        }
        case 5: {
            std::vector<int> values(ops.next() * cells_per_step);
            for (std::size_t i = 0; i < values.size(); ++i) {
                values[i] = static_cast<int>(i * 2654435761U);
            }
            show_int_array(values.data(), (op & 32U) != 0 ? -1 : static_cast<int>(values.size()));
            break;
        }
        case 6: {
            std::string chars = ops.text(8);
            chars.resize(ops.next() * cells_per_step, '\0');
            show_char_array(chars.data(), static_cast<int>(chars.size()));
            break;
        }
        default:
            show_correctness_box((op & 16U) != 0, std::string(ops.next() * label_step, 'L'));
            break;
    }
}

// True when a top-level key can be appended to the host's document and it
// still parses as a mapping without box keys of its own.
bool accepts_new_keys(const std::string& document) {
    const std::string probe = "quorvel_probe_key: 1\n";
    const HostView view = read_as_host(document + probe + quorvel_separator + std::string(memory_size, fill_byte));
    return view.ok && view.boxes.empty() && view.root.find("quorvel_probe_key") != nullptr &&
           document.find("_correctness_") == std::string::npos;
}

void check_answer(const std::string& image, const std::string& answer) {
    const std::string host_document = image.substr(reference_document_offset,
                                                   image.find('\0', reference_document_offset) -
                                                       reference_document_offset);
    const std::size_t memory_at = answer.size() - memory_size;
    require(answer.size() >= host_document.size() + separator_length + memory_size);
    require(answer.compare(0, host_document.size(), host_document) == 0);
    const std::size_t document_end = memory_at - separator_length;
    require(answer.compare(document_end, separator_length, quorvel_separator) == 0);
    require(document_end <= static_cast<std::size_t>(document_capacity));
    require(answer.compare(memory_at, host_bytes, image, 0, host_bytes) == 0);
    const bool wrote_boxes = document_end > host_document.size();
    reached_boxes += wrote_boxes ? 1 : 0;
    if (!wrote_boxes) {
        return;  // the host's document as it came: whether it is YAML is the host's affair
    }
    const HostView view = read_as_host(answer);
    if (!view.ok) {
        // Only a finding when the host's document itself took new keys.
        require(!accepts_new_keys(host_document));
        return;
    }
    if (host_document.find("_correctness_") != std::string::npos) {
        return;  // the host's own box-like keys would mix with ours
    }
    require(box_layout_problem(view).empty());
}

// What quit() writes to standard output, caught in a memory file.
std::string answer_of_quit() {
    const int capture = memfd_create("answer", MFD_CLOEXEC);
    const int saved = dup(STDOUT_FILENO);
    require(capture >= 0 && saved >= 0 && dup2(capture, STDOUT_FILENO) >= 0);
    quit(nullptr);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string answer(static_cast<std::size_t>(lseek(capture, 0, SEEK_END)), '\0');
    require(pread(capture, answer.data(), answer.size(), 0) == static_cast<ssize_t>(answer.size()));
    close(capture);
    return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (inputs++ == 0) {
        std::atexit(report);
    }
    const std::size_t op_count = size > 0 ? std::min<std::size_t>(data[size - 1], size - 1) : 0;
    const std::size_t stream_size = size > 0 ? size - 1 - op_count : 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), stream_size));
    quorvel_fuzz_restart();
    swap_into_position(in, mem, yaml);
    const std::string image = reference_image(data, stream_size);
    Ops ops{data + stream_size, op_count};
    while (ops.more()) {
        run_op(ops);
    }
    check_answer(image, answer_of_quit());
    require(mem == nullptr && yaml == nullptr);
    return 0;
}
