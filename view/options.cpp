#include "options.h"

#include <charconv>
#include <cstdlib>

const char* const usage_text =
    "usage: quorvel-view [--html OUT.html] [--format F] [--output FILE] [FILE]\n"
    "       quorvel-view --run [--message-id N | --input FILE] [--timeout S] [--memory MIB]\n"
    "                    [--html OUT.html] [--format F] [--output FILE] -- PROGRAM [ARGS...]\n"
    "       quorvel-view --check [--message-id N | --input FILE] [--timeout S] [--memory MIB]\n"
    "                    [-j N] [--shard K/N] [--format F] [--output FILE] PROGRAM...\n"
    "       quorvel-view --version\n"
    "Reads an exchange stream (from FILE or standard input), or runs PROGRAM as\n"
    "a host would, and shows its boxes; --check runs each PROGRAM and reports.\n"
    "F: text (default), json, tap, junit, gradescope. S: seconds, up to 86400\n"
    "(default 10). MIB: each program's data limit, 1 to 1048576. N (-j): 1 to\n"
    "1024. --shard K/N: the K-th of N shares of the programs sorted by name.\n"
    "NO_COLOR turns colours off.\n";

namespace {

Error usage_error(const std::string& message) { return {Problem::usage, message}; }

// A whole decimal number in text, within [low, high].
template <typename Number>
bool whole_number(const std::string& text, Number low, Number high, Number& value) {
    const char* end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    return !text.empty() && read.ec == std::errc() && read.ptr == end && value >= low && value <= high;
}

bool is_integer(const std::string& text) {
    const std::size_t digits = text.rfind('-', 0) == 0 ? 1 : 0;
    return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

Error value_of(int& i, int argc, char** argv, std::string& value) {
    if (i + 1 >= argc) {
        return usage_error(std::string(argv[i]) + " needs a value");
    }
    value = argv[++i];
    return {};
}

Error parse_timeout(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > most_timeout) {
        return usage_error("--timeout takes a number of seconds above 0, at most 86400");
    }
    return {};
}

Error parse_format(const std::string& text, std::string& format) {
    if (text != "text" && text != "json" && text != "tap" && text != "junit" && text != "gradescope") {
        return usage_error("--format takes text, json, tap, junit or gradescope");
    }
    format = text;
    return {};
}

// K/N: the K-th (from 1) of N shares.
Error parse_shard(const std::string& text, int& shard, int& shards) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos || !whole_number(text.substr(slash + 1), 1, most_shards, shards) ||
        !whole_number(text.substr(0, slash), 1, shards, shard)) {
        return usage_error("--shard takes K/N, 1 <= K <= N <= " + std::to_string(most_shards));
    }
    return {};
}

// An option that takes a value, at argv[i]; false when arg is none of them.
bool parse_valued_option(const std::string& arg, int& i, int argc, char** argv, Options& options,
                         Error& error) {
    std::string value;
    if (arg == "--html") {
        error = value_of(i, argc, argv, options.html);
    } else if (arg == "--input") {
        error = value_of(i, argc, argv, options.input_file);
    } else if (arg == "--output") {
        error = value_of(i, argc, argv, options.output);
    } else if (arg == "--message-id") {
        options.message_id_given = true;
        error = value_of(i, argc, argv, options.message_id);
        if (!error && !is_integer(options.message_id)) {
            error = usage_error("--message-id takes an integer");
        }
    } else if (arg == "--timeout") {
        error = value_of(i, argc, argv, value);
        error = error ? error : parse_timeout(value, options.timeout);
    } else if (arg == "-j") {
        error = value_of(i, argc, argv, value);
        if (!error && !whole_number(value, 1, most_jobs, options.jobs)) {
            error = usage_error("-j takes a number of parallel runs from 1 to " + std::to_string(most_jobs));
        }
    } else if (arg == "--memory") {
        error = value_of(i, argc, argv, value);
        if (!error && !whole_number<std::size_t>(value, 1, most_memory_mib, options.memory_mib)) {
            error = usage_error("--memory takes a number of MiB from 1 to " +
                                std::to_string(most_memory_mib));
        }
    } else if (arg == "--format") {
        error = value_of(i, argc, argv, value);
        error = error ? error : parse_format(value, options.format);
    } else if (arg == "--shard") {
        error = value_of(i, argc, argv, value);
        error = error ? error : parse_shard(value, options.shard, options.shards);
    } else {
        return false;
    }
    return true;
}

// One option at argv[i] (moving i past its value); done is set at the
// first word that starts the program's command.
Error parse_option(int& i, int argc, char** argv, Options& options, bool& done) {
    const std::string arg = argv[i];
    Error error;
    if (parse_valued_option(arg, i, argc, argv, options, error)) {
        return error;
    }
    if (arg == "--help" || arg == "-h") {
        options.help = true;
    } else if (arg == "--version") {
        options.version = true;
    } else if (arg == "--run") {
        options.run = true;
    } else if (arg == "--check") {
        options.check = true;
    } else if (arg == "--") {
        ++i;
        done = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
        return usage_error("unknown option " + arg);
    } else if (options.run) {
        done = true;
    } else if (options.check) {
        options.command.push_back(arg);
    } else if (options.file.empty()) {
        options.file = arg;
    } else {
        return usage_error("more than one FILE");
    }
    return {};
}

Error check_options(const Options& options) {
    if (options.run && options.check) {
        return usage_error("give --run or --check, not both");
    }
    if (options.run && options.command.empty()) {
        return usage_error("--run needs a PROGRAM after --");
    }
    if (options.check && options.command.empty()) {
        return usage_error("--check needs at least one PROGRAM");
    }
    if (options.check && !options.html.empty()) {
        return usage_error("--html goes with one program or stream, not with --check");
    }
    if (!options.run && !options.check &&
        (!options.command.empty() || !options.input_file.empty() || options.message_id_given ||
         options.memory_mib != 0)) {
        return usage_error("--input, --message-id, --memory and a PROGRAM go with --run or --check");
    }
    if (!options.input_file.empty() && options.message_id_given) {
        return usage_error("give --message-id or --input, not both");
    }
    if ((options.jobs != 0 || options.shards != 0) && !options.check) {
        return usage_error("-j and --shard go with --check");
    }
    return {};
}

}  // namespace

Error parse_options(int argc, char** argv, Options& options) {
    int i = 1;
    for (bool done = false; i < argc && !done && !options.help && !options.version;) {
        if (Error error = parse_option(i, argc, argv, options, done)) {
            return error;
        }
        i += done ? 0 : 1;
    }
    for (; i < argc; ++i) {
        options.command.emplace_back(argv[i]);
    }
    return options.help || options.version ? Error{} : check_options(options);
}
