// The run: init() frames the host's message, reads its id and archives it;
// quit() and terminate() write the answer. The public globals live here.
#include "boxes.h"
#include "fault_points.h"
#include "guard.h"
#include "signal_safe.h"
#include "warnings.h"

#include <quorvel/primitives.h>
#include <quorvel/quorvel.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

char* mem = nullptr;
char* yaml = nullptr;
char* response = nullptr;
char* query_str = nullptr;
int incoming_message_id = -1;

using namespace quorvel_internal;

namespace {

constexpr const char* input_directory = "input";
constexpr mode_t input_directory_mode = 0775;
constexpr const char* message_id_key = "message_id:";
constexpr const char* store_input_mode = "store input";
constexpr const char* none_mode = "none";
constexpr const char* just_yaml_mode = "just yaml";
constexpr const char* just_mem_mode = "just mem";

// Modes are whole, case-sensitive strings; null is no mode.
bool is_mode(const char* mode, const char* name) {
    return mode != nullptr && std::strcmp(mode, name) == 0;
}

// Writes the archive input/<id>.txt; warns when it cannot.
void store_input() {
    struct stat info {};
    if (checked::stat(input_directory, &info) != 0 || !S_ISDIR(info.st_mode)) {
        if (checked::mkdir(input_directory, input_directory_mode) == -1) {
            warn_init(std::string("unable to create directory ") + input_directory);
            return;
        }
    }
    if (incoming_message_id < 0) {
        return;
    }
    const std::string path =
        std::string(input_directory) + "/" + decimal(incoming_message_id) + ".txt";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        warn_init("unable to open file " + path);
        return;
    }
    file << yaml;
    file.write(quorvel_separator, quorvel_separator_length);
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
        warn_init("invalid message id " + decimal(incoming_message_id));
    }
}

void release_image() {
    forget_document_end();
    delete[] mem;
    mem = nullptr;
    yaml = nullptr;
    run_state.image = nullptr;
    run_state.document = nullptr;
}

// Writes to the host's standard output with write(2), so that no state of
// stdio or std::cout can lose or split the stream; nothing once silenced.
void write_out(const char* data, std::size_t size) {
    if (!run_state.output_silenced) {
        write_stream_part(data, size);
    }
}

// The host got part of the stream (a write failed): say so, since nothing
// in what it got does.
void warn_if_stream_cut() {
    if (run_state.stream_error != 0) {
        warn(std::string("the answer could not be written in full: ") + std::strerror(run_state.stream_error) + ".");
    }
}

void write_memory(const char* image, const char* document) {
    if (image != nullptr && document != nullptr) {
        write_out(image, static_cast<std::size_t>(document - image));
    }
}

// A null document silences the library's output from then on, as a failed
// std::cout would, and std::cout is put into its failed state too.
void write_document(const char* document) {
    if (document != nullptr) {
        write_out(document, std::strlen(document));
    } else {
        run_state.output_silenced = true;
        std::cout.setstate(std::ios::failbit);
    }
}

void write_stream(const char* image, const char* document) {
    write_document(document);
    write_out(quorvel_separator, quorvel_separator_length);
    write_memory(image, document);
}

}  // namespace

void init(const char* mode) {
    initialize(mem, yaml);
    run_state.image = mem;
    run_state.document = yaml;
    response = new char[image_size];
    query_str = new char[image_size];
    query_str[0] = '\0';
    read_message_id();
    if (is_mode(mode, store_input_mode)) {
        store_input();
    }
    start_guarding();
}

bool just_starting() { return incoming_message_id == 0; }

void terminate(const char* image, const char* document) {
    const bool run_image = image != nullptr && image == mem;
    const bool claimed = !run_image || claim_stream();
    if (run_image) {
        settle_guard(false);
    }
    if (claimed) {
        flush_exercise_output();
        write_stream(image, document);
    }
    if (run_image && claimed) {
        finish_stream();
        warn_if_stream_cut();
    }
    if (run_image) {
        end_guard();
        release_image();
    } else {
        delete[] image;
    }
}

void quit(const char* mode) {
    const bool claimed = claim_stream();
    settle_guard(is_mode(mode, none_mode));
    delete[] response;
    response = nullptr;
    if (claimed) {
        flush_exercise_output();
        if (is_mode(mode, none_mode)) {
            // Nothing is written.
        } else if (is_mode(mode, just_yaml_mode)) {
            write_document(yaml);
        } else if (is_mode(mode, just_mem_mode)) {
            write_memory(mem, yaml);
        } else {
            write_stream(mem, yaml);
        }
    }
    end_guard();
    if (claimed) {
        close_host_output();
        finish_stream();
        warn_if_stream_cut();
    }
    release_image();
}
