// Linked into the exercises and the viewer of a fault build
// (QUORVEL_FAULT_POINTS) only: fails one call, chosen by the environment,
// so that the fault table can walk every fault point in turn.
//
//   QUORVEL_FAULT=POINT:N[:HOW]   fail the Nth call of POINT, a libfiu name:
//                                 the POSIX preload's (posix/io/rw/write,
//                                 libc/mm/malloc, ...) or a fault point's
//                                 (quorvel/pipe2, viewer/pidfd_open, ...)
//       HOW: an errno to fail with (default EIO; the fault points set their
//            own), or "short" for the point's /reduce, a short count
//   QUORVEL_FAULT_SCOPE=library   count only the calls the library makes
//                                 (a frame of its code, quorvel_text, on the
//                                 stack): the default
//                       program   the calls the program's own code makes
//                                 (for the viewer)
//
// "The Nth call" needs counting inside the process, which fiu-run alone
// cannot do: the point is enabled here with an external callback.
#define FIU_ENABLE 1
#include <fiu-control.h>
#include <fiu.h>

#include <execinfo.h>
#include <link.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" const char __start_quorvel_text[] __attribute__((weak));
extern "C" const char __stop_quorvel_text[] __attribute__((weak));

namespace {

constexpr int most_frames = 128;
constexpr char reduce_suffix[] = "/reduce";

std::string point;
int target = 0;
std::intptr_t error = EIO;
bool library_scope = true;
std::uintptr_t program_begin = 0;
std::uintptr_t program_end = 0;
std::atomic<int> seen{0};
thread_local bool deciding = false;

bool in_scope(std::uintptr_t pc) {
    if (library_scope) {
        return __start_quorvel_text != nullptr && pc >= reinterpret_cast<std::uintptr_t>(__start_quorvel_text) &&
               pc < reinterpret_cast<std::uintptr_t>(__stop_quorvel_text);
    }
    return pc >= program_begin && pc < program_end;
}

// Whether the call being decided was made by code in scope.
bool called_in_scope() {
    void* frames[most_frames];
    const int count = backtrace(frames, most_frames);
    for (int i = 0; i < count; ++i) {
        if (in_scope(reinterpret_cast<std::uintptr_t>(frames[i]))) {
            return true;
        }
    }
    return false;
}

// libfiu asks this at each call of the point.
int decide(const char* name, int* /*failnum*/, void** failinfo, unsigned* /*flags*/) {
    if (deciding) {
        return 0;  // a call that deciding itself made (backtrace's own allocation)
    }
    deciding = true;
    const bool own_point = std::strncmp(name, "quorvel/", 8) == 0 || std::strncmp(name, "viewer/", 7) == 0;
    const bool counted = own_point || called_in_scope();
    deciding = false;
    if (!counted || ++seen != target) {
        return 0;
    }
    *failinfo = reinterpret_cast<void*>(error);
    return 1;
}

// The program's own code: the first object dl_iterate_phdr reports.
void find_program() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X) != 0) {
                    program_begin = info->dlpi_addr + segment.p_vaddr;
                    program_end = program_begin + segment.p_memsz;
                }
            }
            return 1;
        },
        nullptr);
}

struct Setup {
    Setup() {
        const char* fault = std::getenv("QUORVEL_FAULT");
        if (fault == nullptr || *fault == '\0') {
            return;
        }
        const std::string request = fault;
        const std::size_t colon = request.find(':');
        const std::size_t how = request.find(':', colon + 1);
        point = request.substr(0, colon);
        target = std::atoi(request.c_str() + colon + 1);
        if (how != std::string::npos) {
            const std::string kind = request.substr(how + 1);
            if (kind == "short") {
                point += reduce_suffix;
            } else {
                error = std::atoi(kind.c_str());
            }
        }
        const char* scope = std::getenv("QUORVEL_FAULT_SCOPE");
        library_scope = scope == nullptr || std::strcmp(scope, "program") != 0;
        find_program();
        void* warm_up[1];
        backtrace(warm_up, 1);  // its first call loads the unwinder, which allocates
        fiu_init(0);
        fiu_enable_external(point.c_str(), 1, nullptr, 0, decide);
    }
} setup;

}  // namespace
