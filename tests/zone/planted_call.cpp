// Built as the signal-safe zone is, with one call its rule forbids: the
// symbol check must fail on this object and name malloc.
#include <cstddef>
#include <cstdlib>

namespace quorvel_zone_fixture {

void* planted_allocation(std::size_t size) { return std::malloc(size); }

}  // namespace quorvel_zone_fixture
