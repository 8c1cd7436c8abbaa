#include "runs.h"

#include "environment.h"
#include "interrupt.h"
#include "render.h"
#include "sandbox.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

// The sandbox of --sandbox, set up once by set_up_sandbox().
SandboxOptions sandbox_settings;

// Each thread's own warm sandbox, made at its first run: bubblewrap's
// --die-with-parent follows the thread that started it. It ends with the
// thread.
Sandbox& thread_sandbox() {
    thread_local Sandbox sandbox(sandbox_settings);
    return sandbox;
}

// What a report needs of a run once its entry is made: the stream and its
// parsed document go.
void release_stream(ProgramRun& run) {
    std::string().swap(run.result.out);
    std::string().swap(run.view.document);
    std::string().swap(run.view.memory);
    run.view.other.clear();
    run.view.root = YamlNode{};
}

}  // namespace

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string timestamp_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&now, &local) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    }
    return text;
}

ProgramRun run_one(const std::vector<std::string>& command, const std::string& input,
                   const Options& options) {
    ProgramRun run;
    run.program = command.front();
    const std::vector<std::string> args(command.begin() + 1, command.end());
    ChildOptions child;
    child.timeout_seconds = options.timeout;
    child.out_limit = exchange_stream_limit;
    child.err_limit = stderr_limit;
    child.memory_mib = options.memory_mib;
    child.file_size_mib = options.file_size_mib;
    child.cpu_seconds = options.cpu_seconds;
    child.stop_fd = interrupt_fd();
    std::vector<std::string> settings = options.env;
    if (options.sandbox) {
        // In place of the viewer's own, which the sandbox does not have.
        settings.push_back(std::string("HOME=") + sandbox_work_dir);
        settings.push_back(std::string("TMPDIR=") + sandbox_work_dir);
        child.sandbox = &thread_sandbox();
    }
    child.environment = program_environment(environ, settings);
    run.started = timestamp_now();
    const Clock::time_point start = Clock::now();
    run.result = run_child(run.program, args, input, child);
    run.seconds = seconds_since(start);
    if (run.result.out_dropped > 0) {
        run.view.error = stream_too_long("on standard output");
    } else {
        run.view = read_as_host(run.result.out);
    }
    classify_run(run, {options.timeout, options.file_size_mib, options.cpu_seconds, options.checks});
    return run;
}

std::vector<ProgramRun> run_all(const Options& options, const std::string& input) {
    std::vector<ProgramRun> runs(options.command.size());
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    const std::size_t jobs = std::min<std::size_t>(options.jobs > 0 ? static_cast<unsigned>(options.jobs) : cores,
                                                   runs.size());
    std::atomic<std::size_t> next{0};
    std::size_t done = 0;
    std::mutex progress;
    const bool show_progress = is_terminal(STDERR_FILENO);
    const auto work = [&] {
        for (std::size_t i = next++; i < runs.size(); i = next++) {
            runs[i] = run_one({options.command[i]}, input, options);
            release_stream(runs[i]);
            const std::lock_guard<std::mutex> lock(progress);
            ++done;
            if (show_progress) {
                std::cerr << "\rquorvel-view: " << done << "/" << runs.size() << " checked" << std::flush;
            }
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t j = 0; j < jobs; ++j) {
        workers.emplace_back(work);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (show_progress) {
        std::cerr << "\r\x1b[K" << std::flush;
    }
    return runs;
}

// The probe is the calling thread's own sandbox, which then serves --run.
Error set_up_sandbox(const Options& options) {
    sandbox_settings.processes = options.processes;
    sandbox_settings.file_size_mib = options.file_size_mib;
    const std::string missing = find_sandbox_tools(sandbox_settings);
    if (!missing.empty()) {
        return {Problem::no_sandbox, missing};
    }
    const std::string why = thread_sandbox().start();
    if (!why.empty()) {
        return {Problem::no_sandbox, "--sandbox: bubblewrap cannot make a sandbox here: " + why};
    }
    return {};
}
