// quorvel-view - shows an exercise's boxes without the real host.
//
//   quorvel-view [--html OUT.html] [FILE]
//   quorvel-view --run [--message-id N | --input FILE] [--timeout S]
//                [--html OUT.html] -- PROGRAM [ARGS...]
//
// Exit status: 0 shown, 1 malformed stream, 2 usage or file error,
// 3 the program crashed, timed out, could not start or exited non-zero.
#include "child_process.h"
#include "exchange.h"
#include "render.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int exit_malformed = 1;
constexpr int exit_usage = 2;
constexpr int exit_program = 3;
constexpr double default_timeout = 10;

const char* usage_text =
    "usage: quorvel-view [--html OUT.html] [FILE]\n"
    "       quorvel-view --run [--message-id N | --input FILE] [--timeout S]\n"
    "                    [--html OUT.html] -- PROGRAM [ARGS...]\n"
    "Reads an exchange stream (from FILE or standard input), or runs PROGRAM as\n"
    "a host would, and shows its boxes. NO_COLOR turns colours off.\n";

struct Options {
    bool run = false;
    std::string html;
    std::string file;
    std::string input_file;
    std::string message_id = "0";
    bool message_id_given = false;
    double timeout = default_timeout;
    std::vector<std::string> command;
};

[[noreturn]] void usage(const std::string& problem) {
    if (!problem.empty()) {
        std::cerr << "quorvel-view: " << problem << "\n";
    }
    std::cerr << usage_text;
    std::exit(exit_usage);
}

bool is_integer(const std::string& text) {
    const std::size_t digits = text.rfind('-', 0) == 0 ? 1 : 0;
    return text.size() > digits && text.size() < 12 &&
           text.find_first_not_of("0123456789", digits) == std::string::npos;
}

std::string value_of(int& i, int argc, char** argv) {
    if (i + 1 >= argc) {
        usage(std::string(argv[i]) + " needs a value");
    }
    return argv[++i];
}

double parse_timeout(const std::string& text) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > 86400) {
        usage("--timeout takes a number of seconds above 0");
    }
    return seconds;
}

Options parse_options(int argc, char** argv) {
    Options options;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage_text;
            std::exit(0);
        } else if (arg == "--run") {
            options.run = true;
        } else if (arg == "--html") {
            options.html = value_of(i, argc, argv);
        } else if (arg == "--input") {
            options.input_file = value_of(i, argc, argv);
        } else if (arg == "--message-id") {
            options.message_id = value_of(i, argc, argv);
            options.message_id_given = true;
            if (!is_integer(options.message_id)) {
                usage("--message-id takes an integer");
            }
        } else if (arg == "--timeout") {
            options.timeout = parse_timeout(value_of(i, argc, argv));
        } else if (arg == "--") {
            ++i;
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage("unknown option " + arg);
        } else if (options.run) {
            break;
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            usage("more than one FILE");
        }
    }
    for (; i < argc; ++i) {
        options.command.emplace_back(argv[i]);
    }
    if (options.run && options.command.empty()) {
        usage("--run needs a PROGRAM after --");
    }
    if (!options.run && (!options.command.empty() || !options.input_file.empty() ||
                         options.message_id_given)) {
        usage("--input, --message-id and a PROGRAM go with --run");
    }
    if (!options.input_file.empty() && options.message_id_given) {
        usage("give --message-id or --input, not both");
    }
    return options;
}

bool read_all(const std::string& path, std::string& content) {
    if (path.empty() || path == "-") {
        content.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

std::string signal_name(int number) {
    const char* description = strsignal(number);
    return "signal " + std::to_string(number) + (description ? std::string(" (") + description + ")" : "");
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// Runs the program as the host does; returns its output stream, or exits.
std::string run_program(const Options& options, int& status) {
    std::string input = "message_id: " + options.message_id + quorvel_separator;
    if (!options.input_file.empty() && !read_all(options.input_file, input)) {
        std::cerr << "quorvel-view: cannot read " << options.input_file << "\n";
        std::exit(exit_usage);
    }
    const std::string& program = options.command.front();
    const std::vector<std::string> args(options.command.begin() + 1, options.command.end());
    const ChildResult result = run_child(program, args, input, "", options.timeout);
    if (!result.err.empty()) {
        std::cout << "standard error of " << program << ":\n" << result.err
                  << (result.err.back() == '\n' ? "" : "\n");
    }
    std::string problem;
    if (result.not_started) {
        problem = "cannot run " + program;
    } else if (result.timed_out) {
        problem = program + " did not finish within " + seconds_text(options.timeout) +
                  " s and was killed";
    } else if (result.term_signal != 0) {
        problem = program + " crashed: " + signal_name(result.term_signal);
    } else if (result.exit_code != 0) {
        problem = program + " exited with status " + std::to_string(result.exit_code);
    }
    if (!problem.empty()) {
        std::cout.flush();
        std::cerr << "quorvel-view: " << problem << "\n";
        status = exit_program;
        if (result.out.empty()) {
            std::exit(exit_program);
        }
    }
    return result.out;
}

bool use_colour() {
    const char* no_colour = std::getenv("NO_COLOR");
    return isatty(STDOUT_FILENO) == 1 && (no_colour == nullptr || *no_colour == '\0');
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse_options(argc, argv);
    int status = 0;
    std::string stream;
    if (options.run) {
        stream = run_program(options, status);
    } else if (!read_all(options.file, stream)) {
        std::cerr << "quorvel-view: cannot read " << options.file << "\n";
        return exit_usage;
    }
    const HostView view = read_as_host(stream);
    if (!view.ok) {
        std::cout.flush();
        std::cerr << "quorvel-view: " << view.error << "\n";
        return status != 0 ? status : exit_malformed;
    }
    std::cout << render_terminal(view, use_colour());
    if (!options.html.empty()) {
        std::ofstream page(options.html, std::ios::binary | std::ios::trunc);
        page << render_html(view, "quorvel preview");
        if (!page.flush()) {
            std::cerr << "quorvel-view: cannot write " << options.html << "\n";
            return exit_usage;
        }
    }
    return status;
}
