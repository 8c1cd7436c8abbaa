#include "support/box_layout.h"

#include <quorvel/exchange_format.h>

std::string box_layout_problem(const HostView& view) {
    long next_pos = text_origin;
    for (std::size_t i = 0; i < view.boxes.size(); ++i) {
        const ViewBox& box = view.boxes[i];
        const std::string name = std::string(quorvel_view_prefix) + std::to_string(box.number);
        const long end = box.pos + box.len;
        if (box.number != static_cast<int>(i) + 1) {
            return name + " is box " + std::to_string(i + 1) + " in document order";
        }
        if (box.children != std::vector<std::string>{std::string(quorvel_text_prefix) + std::to_string(box.number)}) {
            return name + " does not have its own text element as its only child";
        }
        if (box.pos != next_pos) {
            return name + ": text at " + std::to_string(box.pos) + ", expected " +
                   std::to_string(next_pos);
        }
        if (end >= static_cast<long>(view.memory.size()) ||
            view.memory[static_cast<std::size_t>(end)] != '\0') {
            return name + ": no NUL after its text";
        }
        next_pos = end + 1;
    }
    return "";
}
