#include "support/child.h"

ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                      const std::string& cwd, double timeout_seconds, const std::string& terminate_when) {
    ChildOptions options;
    options.caller_environment = true;
    options.cwd = cwd;
    options.timeout_seconds = timeout_seconds;
    if (!terminate_when.empty()) {
        options.terminate_when = [terminate_when](const ChildResult& result) {
            return result.err.find(terminate_when) != std::string::npos;
        };
    }
    return run_child(program, args, input, options);
}
