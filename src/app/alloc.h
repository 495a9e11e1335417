// Allocation helpers shared by all modules: tracked allocations (with an
// optional registry of live blocks for leak hunting, switched on by the
// environment variable QX_CHECK_ALLOC), allocations whose failure is fatal,
// and the interned string table.
#pragma once
#include <cstddef>

void *tracked_malloc(size_t size);
void *tracked_calloc(size_t count, size_t size);
void *tracked_realloc(void *block, size_t size);
void tracked_free(void *block);

// tracked_malloc, and on failure the fatal "Out of virtual memory" path.
void *alloc_or_die(size_t size);
void *realloc_or_die(void *block, size_t size);

// Prints "%p:%d\n" to standard error for every block the registry still holds.
void report_live_allocations();

// Number of blocks in the registry (0 when checking is off).
int live_allocation_count();

// Tests only: re-read QX_CHECK_ALLOC and clear the registry.
void alloc_registry_reset_for_tests();

// Returns the table's copy of `text`; equal texts share one pointer forever.
const char *intern_string(const char *text);

// Grows a typed array by doubling from 16 entries; `capacity` is updated.
template <typename T>
void grow_array(T *&items, int count, int &capacity) {
  if (count < capacity) return;
  int next = capacity < 16 ? 16 : capacity * 2;
  items = static_cast<T *>(realloc_or_die(items, sizeof(T) * static_cast<size_t>(next)));
  capacity = next;
}
