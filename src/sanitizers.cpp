// An exercise built with AddressSanitizer or UndefinedBehaviorSanitizer
// (without recovery) is ended by the sanitizer itself, before any signal:
// its death callback sends the stream first, with a box that names the
// error and where. Every sanitizer function is declared weak: without a
// sanitizer they are null, and nothing here runs.
#include "sanitizers.h"

#include "signal_safe.h"

#include <dlfcn.h>

#include <cstring>

extern "C" {
void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));
int __asan_report_present(void) __attribute__((weak));
const char* __asan_get_report_description(void) __attribute__((weak));
int __asan_get_report_access_type(void) __attribute__((weak));
std::size_t __asan_get_report_access_size(void) __attribute__((weak));
void* __asan_get_report_pc(void) __attribute__((weak));
void __ubsan_get_current_report_data(const char** kind, const char** message, const char** file,
                                     unsigned* line, unsigned* column, char** memory) __attribute__((weak));
}

using namespace quorvel_internal;

namespace {

// With g++, -fsanitize=address,undefined loads two runtimes, each with its
// own death callback; the weak reference above binds to the first.
constexpr const char* ubsan_runtime = "libubsan.so.1";
constexpr std::size_t report_text_size = 1024;
constexpr std::size_t report_file_size = 256;
constexpr std::size_t report_where_size = report_file_size + 32;

using SetDeathCallback = void (*)(void (*)(void));

// The last UndefinedBehaviorSanitizer report, copied while it lasts: by the
// time the death callback runs, the runtime has let it go.
struct UbsanReport {
    bool present = false;
    char message[report_text_size] = {};
    char file[report_file_size] = {};
    unsigned line = 0;
};
UbsanReport ubsan_report;
char report_text[report_text_size];
char report_where[report_where_size];

void copy_text(char* out, std::size_t size, const char* text) {
    const std::size_t length = text != nullptr ? strnlen(text, size - 1) : 0;
    std::memcpy(out, text != nullptr ? text : "", length);
    out[length] = '\0';
}

const char* base_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// "heap-buffer-overflow: read of 4 bytes", with the where of the access.
void report_address_error() {
    Writer w{report_text, sizeof report_text};
    w.put(__asan_get_report_description != nullptr ? __asan_get_report_description() : "memory error");
    const std::size_t size = __asan_get_report_access_size != nullptr ? __asan_get_report_access_size() : 0;
    if (size > 0 && __asan_get_report_access_type != nullptr) {
        w.put(": ").put(__asan_get_report_access_type() != 0 ? "write" : "read").put(" of ").number(size);
        w.put(size == 1 ? " byte" : " bytes");
    }
    const auto pc = __asan_get_report_pc != nullptr ? reinterpret_cast<std::uintptr_t>(__asan_get_report_pc()) : 0;
    report_fault(std::string_view(report_text, w.size), pc);
}

// The report in UndefinedBehaviorSanitizer's own words and at its own place.
void report_undefined_behaviour() {
    Writer where{report_where, sizeof report_where};
    if (ubsan_report.file[0] != '\0') {
        where.put(" at ").put(ubsan_report.file).put(":").number(ubsan_report.line);
    }
    report_fault_at(ubsan_report.message, std::string_view(report_where, where.overflowed ? 0 : where.size));
}

void report_sanitizer_error() {
    if (__asan_report_present != nullptr && __asan_report_present() != 0) {
        report_address_error();
    } else if (ubsan_report.present) {
        report_undefined_behaviour();
    } else {
        report_fault("stopped by a sanitizer", 0);
    }
}

// Not after quit(), such as at LeakSanitizer's check at exit.
void on_sanitizer_death() {
    if (run_state.guarding) {
        report_sanitizer_error();
    }
    write_coverage_counts();  // the sanitizer ends the process with _exit
}

}  // namespace

// Called by UndefinedBehaviorSanitizer for each report, while it lasts.
extern "C" void __ubsan_on_report(void) {
    if (__ubsan_get_current_report_data == nullptr || !run_state.guarding) {
        return;
    }
    const char* kind = nullptr;
    const char* message = nullptr;
    const char* file = nullptr;
    unsigned line = 0;
    unsigned column = 0;
    char* memory = nullptr;
    __ubsan_get_current_report_data(&kind, &message, &file, &line, &column, &memory);
    copy_text(ubsan_report.message, sizeof ubsan_report.message, message != nullptr ? message : kind);
    copy_text(ubsan_report.file, sizeof ubsan_report.file, file != nullptr ? base_name(file) : nullptr);
    ubsan_report.line = line;
    ubsan_report.present = true;
}

namespace quorvel_internal {

void watch_sanitizers() {
    if (__sanitizer_set_death_callback == nullptr) {
        return;
    }
    __sanitizer_set_death_callback(on_sanitizer_death);
    void* ubsan = dlopen(ubsan_runtime, RTLD_NOW | RTLD_NOLOAD);
    if (ubsan == nullptr) {
        return;
    }
    const auto set = reinterpret_cast<SetDeathCallback>(dlsym(ubsan, "__sanitizer_set_death_callback"));
    if (set != nullptr && set != &__sanitizer_set_death_callback) {
        set(on_sanitizer_death);
    }
    dlclose(ubsan);
}

}  // namespace quorvel_internal
