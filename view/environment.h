// The environment a program that quorvel-view runs starts with: little of
// the viewer's own, so that no token or secret of a CI job reaches a
// student's program (and, through its boxes, a report a student reads).
#ifndef QUORVEL_VIEW_ENVIRONMENT_H
#define QUORVEL_VIEW_ENVIRONMENT_H

#include <string>
#include <vector>

// The variables kept from the viewer's environment: these names, LC_* and
// the sanitizers' *SAN_OPTIONS. Everything else is dropped.
inline const std::vector<std::string> kept_variables = {"PATH", "HOME", "TMPDIR", "LANG", "TZ", "TERM",
                                                         "LD_LIBRARY_PATH"};

// The program's environment ("NAME=VALUE" each): the kept variables of
// viewer (an environ-style, null-ended list), then each of extra in order,
// as --env gives them: "NAME" passes the viewer's NAME (nothing when it has
// none), "NAME=VALUE" sets it. A later NAME replaces an earlier one.
std::vector<std::string> program_environment(char* const* viewer, const std::vector<std::string>& extra);

// True for a valid --env: a NAME (letters, digits and _, not starting with
// a digit), with or without "=VALUE".
bool is_environment_option(const std::string& text);

#endif
