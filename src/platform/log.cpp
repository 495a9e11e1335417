#include "platform/log.h"

#include <SDL.h>
#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Log state: lives for the process. Written from the main, window and audio
// threads without a lock; each entry is one formatted write and a flush.
FILE *log_stream = nullptr;
bool log_initialised = false;
const char *last_error = nullptr;

// The option text from HOVL_OPTIONS, fetched on first query.
char *option_text = nullptr;

struct Alias {
  Alias *next;
  const char *name;
  const char *value;
};
Alias *aliases = nullptr;  // newest first

constexpr int max_fatal_hooks = 8;
void (*fatal_hooks[max_fatal_hooks])() = {};
int fatal_hook_count = 0;

// The message ring: main thread only, lives for the process.
char ring[message_ring_lines][message_line_size];
int ring_write = 0;
int ring_visible = 0;
int ring_limit = 5;
double ring_expiry = 0.0;
double ring_clock = 0.0;
void (*message_observer)(const char *text) = nullptr;

void configure_log(const char *first_format) {
  const char *env_name = getenv("HOVL_LOGFILE");
  const char *flags = getenv("HOVL_LOGFILE_FLAGS");
  const char *name = env_name;
  const char key[] = "HOVL_LOGFILE=";
  if (!name && first_format && strncmp(first_format, key, sizeof key - 1) == 0) name = first_format + sizeof key - 1;
  log_initialised = true;
  if (!name) return;
  const char *mode = "w";
  if (strncmp(name, ">>", 2) == 0) {
    name += 2;
    mode = "a";
  } else if (name[0] == '>') {
    name += 1;
  }
  if (flags) mode = flags;
  log_stream = fopen(name, mode);
  if (!log_stream) return;
  hovl_log("Logfile \"%s\" opened\n", name);
  hovl_log("HOVL 0.31\n");
}

// System uptime, as the stamp of every log entry.
void uptime(unsigned *seconds, unsigned *hundredths) {
  struct timespec ts;
  clock_gettime(CLOCK_BOOTTIME, &ts);
  *seconds = static_cast<unsigned>(ts.tv_sec);
  *hundredths = static_cast<unsigned>(ts.tv_nsec / 10000000);
}

const char *options() {
  if (!option_text) {
    const char *text = getenv("HOVL_OPTIONS");
    option_text = strdup(text ? text : "");
  }
  return option_text;
}

// The text after "[name:" in the option string, or null.
const char *option_value(const char *name) {
  char key[64];
  snprintf(key, sizeof key, "[%.60s:", name);
  const char *found = strstr(options(), key);
  return found ? found + strlen(key) : nullptr;
}

}  // namespace

void hovl_log(const char *format, ...) {
  if (!log_initialised) {
    bool configuration = format && strncmp(format, "HOVL_LOGFILE=", 13) == 0;
    configure_log(format);
    if (configuration) return;
  }
  if (!format) {
    if (log_stream) fclose(log_stream);
    log_stream = nullptr;
    return;
  }
  if (static_cast<unsigned char>(format[0]) == 0x13 || !log_stream) return;
  unsigned s, h;
  uptime(&s, &h);
  fprintf(log_stream, "[%u:%02u:%02u.%02u] ", s / 3600, (s / 60) % 60, s % 60, h);
  va_list args;
  va_start(args, format);
  vfprintf(log_stream, format, args);
  va_end(args);
  fflush(log_stream);
}

int hovl_log_started() { return log_initialised ? 1 : 0; }

void hovl_error(const char *text) {
  hovl_log("Error: %s\n", text);
  last_error = text;
}

const char *hovl_last_error() { return last_error; }

void hovl_message_box(const char *title, const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // Without a display SDL refuses; standard error still tells the user.
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text, nullptr) != 0)
    fprintf(stderr, "%s: %s\n", title, text);
}

int hovl_option_bool(const char *name, int fallback) {
  const char *value = option_value(name);
  if (!value) return fallback;
  if (strncmp(value, "yes]", 4) == 0 || strncmp(value, "on]", 3) == 0) return 1;
  if (strncmp(value, "no]", 3) == 0 || strncmp(value, "off]", 4) == 0) return 0;
  hovl_log("unrecognized setting for %s\n", name);
  return fallback;
}

int hovl_option_int(const char *name, int fallback) {
  const char *value = option_value(name);
  if (!value) return fallback;
  int result, used = 0;
  if (sscanf(value, "%d%n", &result, &used) != 1 || used == 0) {
    hovl_log("unrecognized setting for %s\n", name);
    return fallback;
  }
  return result;
}

int hovl_alias(const char *name, const char *value) {
  for (Alias *a = aliases; a; a = a->next) {
    if (strcmp(a->name, name) == 0) {
      hovl_log("Second alias for '%s' ('%s') ignored\n", name, value);
      return 0;
    }
  }
  size_t name_size = strlen(name) + 1, value_size = strlen(value) + 1;
  // One block: the link, then both strings. Lives for the process.
  char *block = static_cast<char *>(malloc(sizeof(Alias) + name_size + value_size));
  if (!block) {
    hovl_log("Can't alias %s to %s -- out of memory\n", name, value);
    return 0;
  }
  Alias *alias = reinterpret_cast<Alias *>(block);
  char *name_copy = block + sizeof(Alias);
  char *value_copy = name_copy + name_size;
  memcpy(name_copy, name, name_size);
  memcpy(value_copy, value, value_size);
  alias->name = name_copy;
  alias->value = value_copy;
  alias->next = aliases;
  aliases = alias;
  return 1;
}

const char *hovl_alias_lookup(const char *name) {
  for (Alias *a = aliases; a; a = a->next)
    if (strcmp(a->name, name) == 0) return a->value;
  return name;
}

void hovl_on_fatal(void (*release)()) {
  for (int i = 0; i < fatal_hook_count; i++)
    if (fatal_hooks[i] == release) return;
  if (fatal_hook_count < max_fatal_hooks) fatal_hooks[fatal_hook_count++] = release;
}

void hovl_fatal_out_of_memory() {
  // Release devices newest first: audio before the window that owns the screen.
  for (int i = fatal_hook_count - 1; i >= 0; i--) fatal_hooks[i]();
  hovl_message_box("Error", "Out of virtual memory");
  exit(1);
}

void hovl_reset_for_tests() {
  if (log_stream) fclose(log_stream);
  log_stream = nullptr;
  log_initialised = false;
  free(option_text);
  option_text = nullptr;
  while (aliases) {
    Alias *next = aliases->next;
    free(aliases);
    aliases = next;
  }
}

void message_set_observer(void (*observer)(const char *text)) { message_observer = observer; }

int print_message(const char *text) {
  if (message_observer) message_observer(text);
  size_t length = strlen(text);
  bool newline = length > 0 && text[length - 1] == '\n';
  const char *reset = strchr(text, 27) ? "\033[0m" : "";
  hovl_log(newline ? "%s%s" : "%s%s\n", text, reset);
  snprintf(ring[ring_write], message_line_size, "%s", text);
  ring_write = (ring_write + 1) % message_ring_lines;
  if (ring_visible < ring_limit) ring_visible++;
  ring_expiry = ring_clock + 2.0;
  return ring_visible;
}

void message_set_clock(double program_clock) { ring_clock = program_clock; }

void message_expire(double program_clock) {
  ring_clock = program_clock;
  if (program_clock > ring_expiry && ring_visible > 0) {
    ring_visible--;
    ring_expiry = program_clock + 5.0;
  }
}

void message_set_limit(int lines) {
  ring_limit = lines < 0 ? 0 : lines;
  if (ring_visible > ring_limit) ring_visible = ring_limit;
}

int message_visible_count() { return ring_visible; }

const char *message_line(int newest_index) {
  int index = ((ring_write - 1 - newest_index) % message_ring_lines + message_ring_lines) % message_ring_lines;
  return ring[index];
}

void message_clear() {
  memset(ring, 0, sizeof ring);
  ring_write = 0;
  ring_visible = 0;
  ring_expiry = 0.0;
}
