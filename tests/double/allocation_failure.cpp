// Replaces the global allocator of the test binary so that a test can make one allocation fail,
// as when memory is exhausted: the installed new-handler then runs, as it would in the program.
#include <cstdlib>
#include <new>

#include "platform_double.h"

namespace {
int AllocationsCounted = 0;
int FailingAllocation = 0;

bool ThisAllocationFails() {
  ++AllocationsCounted;
  return FailingAllocation != 0 && AllocationsCounted == FailingAllocation;
}
}  // namespace

int fake::FailAllocation(int nth) {
  int counted = AllocationsCounted;
  AllocationsCounted = 0;
  FailingAllocation = nth;
  return counted;
}

void* operator new(std::size_t size) {
  for (;;) {
    if (!ThisAllocationFails()) {
      if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
      }
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      throw std::bad_alloc();
    }
    handler();
  }
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
