// The where lookup's child: reads the program's debug information (or its
// symbol table) with GCC's libbacktrace and names the innermost frame of the
// exercise's own code. Outside the signal-safe zone: it allocates, and runs
// only in a child that the zone forked and may kill (see where.h).
#include "where.h"

#include "function_name.h"

#include <cstring>
#include <string>
#include <string_view>

#if QUORVEL_HAVE_BACKTRACE

#include <backtrace.h>
#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

// The library's own code: every object of the static library has its code
// in this section (the build renames .text), which the linker gathers in one
// range and bounds with these symbols. Weak: without the section, no range.
extern "C" const char __start_quorvel_text[] __attribute__((weak));
extern "C" const char __stop_quorvel_text[] __attribute__((weak));

namespace quorvel_internal {

namespace {

constexpr int most_frames = 256;  // a deep recursion's innermost frames are enough

backtrace_state* lookup_state = nullptr;

// Sources that are not the exercise's own: system headers, and the
// library's sources and installed headers.
constexpr std::string_view system_sources[] = {"/usr/include/", "/usr/local/include/", "/usr/lib/"};
constexpr std::string_view library_headers = "/include/quorvel/";

// Functions that are never the exercise's: the start-up code, and with
// only a symbol table, the standard library's templates and the library's
// own inline code.
constexpr std::string_view start_up_names[] = {
    "_start", "_init", "_fini", "__libc_csu_init", "__libc_csu_fini", "frame_dummy",
    "register_tm_clones", "deregister_tm_clones", "__do_global_dtors_aux"};
constexpr std::string_view foreign_prefixes[] = {
    "__asan", "__ubsan", "__sanitizer", "__interceptor", "__lsan", "__tsan", "___interceptor",
    "quorvel_internal::", "quorvel_detail::"};
constexpr std::string_view template_prefixes[] = {"std::", "__gnu_cxx::"};
constexpr const char* interceptor_prefix = "__interceptor_";

bool starts_with(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

template <std::size_t N>
bool starts_with_any(std::string_view text, const std::string_view (&starts)[N]) {
    for (const std::string_view start : starts) {
        if (starts_with(text, start)) {
            return true;
        }
    }
    return false;
}

std::string_view library_source_dir() {
    const std::string_view file = __FILE__;
    return file.substr(0, file.rfind('/') + 1);
}

// path with "." and "dir/.." taken out: clang names GCC's headers as
// /usr/bin/../lib/gcc/x86_64-linux-gnu/12/../../../../include/c++/12/...
std::string lexically_normal(std::string_view path) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        const std::string_view part = path.substr(at, slash - at);
        if (part == ".." && !parts.empty() && parts.back() != "..") {
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string normal = starts_with(path, "/") ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        normal.append(i == 0 ? "" : "/").append(parts[i]);
    }
    return normal;
}

bool foreign_source(std::string_view file) {
    const std::string path = lexically_normal(file);
    return starts_with_any(path, system_sources) || path.find(library_headers) != std::string::npos ||
           starts_with(path, library_source_dir());
}

bool in_library(std::uintptr_t pc) {
    return __start_quorvel_text != nullptr && pc >= reinterpret_cast<std::uintptr_t>(__start_quorvel_text) &&
           pc < reinterpret_cast<std::uintptr_t>(__stop_quorvel_text);
}

// Whether pc lies in the program's own loaded segments (the first object
// dl_iterate_phdr reports), not in a shared object.
bool in_program(std::uintptr_t pc) {
    struct Search {
        std::uintptr_t pc;
        bool first = true;
        bool found = false;
    } search{pc};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto& s = *static_cast<Search*>(data);
            for (int i = 0; s.first && i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                s.found = s.found || (segment.p_type == PT_LOAD && s.pc >= start && s.pc < start + segment.p_memsz);
            }
            s.first = false;
            return 1;
        },
        &search);
    return search.found;
}

std::string demangled(const char* name) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> plain(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                                            &std::free);
    return status == 0 && plain ? std::string(plain.get()) : std::string(name);
}

void copy_into(char* out, std::size_t size, std::string_view text) {
    const std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

struct Lookup {
    WhereRecord& record;
    bool has_debug_information = false;
    bool found = false;
    int functions = 0;       // the functions at the pc so far, inlined ones first
    int chosen = -1;         // which of them was chosen
    bool bare_name = false;  // the debug information named it without its scope ("operator()")
};

void ignore_error(void* /*data*/, const char* /*message*/, int /*error*/) {}

bool is_mangled(const char* name) { return std::strncmp(name, "_Z", 2) == 0; }

// Each function at a pc, the innermost inlined one first, the one the
// symbol table names last.
int on_pcinfo(void* data, std::uintptr_t /*pc*/, const char* file, int line, const char* function) {
    auto& lookup = *static_cast<Lookup*>(data);
    const int index = lookup.functions++;
    if (file == nullptr || lookup.found) {
        return 0;
    }
    lookup.has_debug_information = true;
    const std::string name = function != nullptr ? demangled(function) : std::string();
    const std::string shown = function_name(name);
    if (line <= 0 || foreign_source(file) || starts_with_any(shown, foreign_prefixes)) {
        return 0;  // line 0: code the compiler added, such as a sanitizer's check
    }
    const std::string_view path = file;
    copy_into(lookup.record.file, where_file_size, path.substr(path.rfind('/') + 1));
    copy_into(lookup.record.function, where_function_size, shown);
    lookup.record.line = static_cast<unsigned>(line);
    lookup.found = true;
    lookup.chosen = index;
    lookup.bare_name = function != nullptr && !is_mangled(function) && name.find("::") == std::string::npos;
    return 0;
}

// True for a sanitizer's interceptor linked into the program (clang's
// runtime is): it stands under the libc name it intercepts, and beside it
// under "__interceptor_" and that name.
bool is_interceptor(const char* symbol, std::uintptr_t address) {
    const std::string alias = interceptor_prefix + std::string(symbol);
    return reinterpret_cast<std::uintptr_t>(dlsym(RTLD_DEFAULT, alias.c_str())) == address;
}

// The symbol table's name of the function at a pc.
void on_syminfo(void* data, std::uintptr_t /*pc*/, const char* symbol, std::uintptr_t address, std::uintptr_t) {
    auto& lookup = *static_cast<Lookup*>(data);
    if (symbol == nullptr || is_interceptor(symbol, address)) {
        return;
    }
    const std::string name = demangled(symbol);
    for (const std::string_view start_up : start_up_names) {
        if (name == start_up) {
            return;
        }
    }
    const std::string shown = function_name(name);
    if (starts_with_any(shown, foreign_prefixes) || starts_with_any(shown, template_prefixes)) {
        return;
    }
    copy_into(lookup.record.function, where_function_size, shown);
    lookup.found = true;
}

// Fills record when pc lies in the exercise's own code.
bool describe(std::uintptr_t pc, WhereRecord& record) {
    if (pc == 0 || in_library(pc) || !in_program(pc)) {
        return false;
    }
    Lookup lookup{record};
    backtrace_pcinfo(lookup_state, pc, on_pcinfo, ignore_error, &lookup);
    if (!lookup.found && !lookup.has_debug_information) {
        backtrace_syminfo(lookup_state, pc, on_syminfo, ignore_error, &lookup);
    } else if (lookup.found && lookup.bare_name && lookup.chosen == lookup.functions - 1) {
        // A member named without its scope, such as a lambda's "operator()":
        // the symbol table has its whole name.
        WhereRecord named{};
        Lookup symbol{named};
        backtrace_syminfo(lookup_state, pc, on_syminfo, ignore_error, &symbol);
        if (symbol.found) {
            std::memcpy(record.function, named.function, sizeof named.function);
        }
    }
    return lookup.found;
}

struct Stack {
    std::uintptr_t pcs[most_frames];
    int count = 0;
};

int on_frame(void* data, std::uintptr_t pc) {
    auto& stack = *static_cast<Stack*>(data);
    stack.pcs[stack.count++] = pc;
    return stack.count == most_frames ? 1 : 0;
}

}  // namespace

bool prepare_where_lookup() {
    if (lookup_state == nullptr) {
        lookup_state = backtrace_create_state(nullptr, 1, ignore_error, nullptr);
    }
    return lookup_state != nullptr;
}

void look_up_where_in_child(std::uintptr_t pc, int fd) {
    Stack stack;
    backtrace_simple(lookup_state, 0, on_frame, ignore_error, &stack);
    int first = 0;
    while (pc != 0 && first < stack.count && stack.pcs[first] != pc) {
        ++first;
    }
    WhereRecord record{};
    bool found = first == stack.count && describe(pc, record);
    for (int i = first == stack.count ? 0 : first; !found && i < stack.count; ++i) {
        found = describe(stack.pcs[i], record);
    }
    if (found && write(fd, &record, sizeof record) < 0) {
        return;  // the parent is gone or gave up: nothing to tell
    }
}

}  // namespace quorvel_internal

#else

namespace quorvel_internal {

bool prepare_where_lookup() { return false; }

void look_up_where_in_child(std::uintptr_t /*pc*/, int /*fd*/) {}

}  // namespace quorvel_internal

#endif
