#include "app/alloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/log.h"

namespace {

// The allocation registry: lives for the process, enabled once from the
// environment. Entries stay in allocation order so a leak report reads
// oldest first.
constexpr int max_tracked = 1 << 20;

struct Tracked {
  void *block;
  size_t size;
  int sequence;
};

Tracked *registry = nullptr;
int registry_count = 0;
int registry_sequence = 0;
int checking = -1;  // -1 until QX_CHECK_ALLOC has been read
bool registry_full = false;

bool check_enabled() {
  if (checking < 0) {
    const char *text = getenv("QX_CHECK_ALLOC");
    int value = 0;
    checking = (text && sscanf(text, "%d", &value) == 1 && value > 0) ? 1 : 0;
  }
  return checking == 1 && !registry_full;
}

void record(void *block, size_t size) {
  if (!registry) {
    registry = static_cast<Tracked *>(calloc(max_tracked, sizeof(Tracked)));
    if (!registry) {
      registry_full = true;
      return;
    }
  }
  if (registry_count >= max_tracked) {
    fprintf(stderr, "Too many allocations to check!\n");
    registry_full = true;
    return;
  }
  registry[registry_count++] = {block, size, registry_sequence++};
}

// Newest first, closing the gap so the order stays. Returns the recorded size
// or -1 when the block is unknown.
long forget(void *block) {
  for (int i = registry_count - 1; i >= 0; i--) {
    if (registry[i].block == block) {
      long size = static_cast<long>(registry[i].size);
      memmove(&registry[i], &registry[i + 1], sizeof(Tracked) * (registry_count - i - 1));
      registry_count--;
      return size;
    }
  }
  fprintf(stderr, "Allocation not found for %p!\n", block);
  return -1;
}

// The string table: lives for the process, never freed.
const char **interned = nullptr;
int interned_count = 0;
int interned_capacity = 0;

}  // namespace

void *tracked_malloc(size_t size) {
  void *block = malloc(size);
  if (block && check_enabled()) record(block, size);
  return block;
}

void *tracked_calloc(size_t count, size_t size) {
  void *block = calloc(count, size);
  if (block && check_enabled()) record(block, count * size);
  return block;
}

void *tracked_realloc(void *block, size_t size) {
  if (!block) return tracked_malloc(size);
  if (!check_enabled()) return realloc(block, size);
  // The old entry goes first; it comes back if the block could not move.
  long old_size = forget(block);
  void *next = realloc(block, size);
  if (!next) {
    if (old_size >= 0) record(block, static_cast<size_t>(old_size));
    return nullptr;
  }
  record(next, size);
  return next;
}

void tracked_free(void *block) {
  if (!block) return;
  if (check_enabled()) {
    long size = forget(block);
    if (size > 0) memset(block, 0, static_cast<size_t>(size));
  }
  free(block);
}

void *alloc_or_die(size_t size) {
  void *block = tracked_malloc(size);
  if (!block && size > 0) hovl_fatal_out_of_memory();
  return block;
}

void *realloc_or_die(void *block, size_t size) {
  void *next = tracked_realloc(block, size);
  if (!next && size > 0) hovl_fatal_out_of_memory();
  return next;
}

void report_live_allocations() {
  if (checking != 1) return;
  for (int i = 0; i < registry_count; i++)
    fprintf(stderr, "%p:%d\n", registry[i].block, registry[i].sequence);
}

int live_allocation_count() { return checking == 1 ? registry_count : 0; }

void alloc_registry_reset_for_tests() {
  free(registry);
  registry = nullptr;
  registry_count = 0;
  registry_sequence = 0;
  registry_full = false;
  checking = -1;
}

const char *intern_string(const char *text) {
  for (int i = 0; i < interned_count; i++)
    if (strcmp(interned[i], text) == 0) return interned[i];
  size_t length = strlen(text);
  // Never freed, so kept out of the registry's leak report.
  char *copy = static_cast<char *>(malloc(length + 1));
  if (!copy) hovl_fatal_out_of_memory();
  memcpy(copy, text, length + 1);
  if (interned_count >= interned_capacity) {
    int next = interned_capacity ? interned_capacity * 2 : 16;
    void *grown = realloc(interned, sizeof(const char *) * next);
    if (!grown) hovl_fatal_out_of_memory();
    interned = static_cast<const char **>(grown);
    interned_capacity = next;
  }
  interned[interned_count++] = copy;
  return copy;
}
