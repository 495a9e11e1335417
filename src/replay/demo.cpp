#include "replay/demo.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "app/config.h"
#include "assets/file.h"
#include "platform/log.h"

namespace {

static_assert(demo_entry_size == 44);
static_assert(max_slots <= 256, "a rider index is one byte");
constexpr int max_path_text = 1100;  // "@demos/" + a name of up to 1016 characters and more

// The recording: from the reset (or time-trial lap) that opens it to the one
// that closes it.
struct Writer {
  DataFile *file;
  int previous_length;
  int time_trial;  // writing the track's lastlap demo
  int recorded[max_slots];
  int recorded_count;
  char name[max_demo_name + 8];  // "namedemo", "" for none
};

// The demo being played: from the reset that opens it to the next one.
struct Reader {
  DataFile *file;
  DemoHeader header;
  int offset;           // of the next chunk (version 6)
  int previous_length;  // payload length of the chunk before `offset`
  int first_states_tic;  // -1 before the first states chunk
  int tic_offset;       // added to every stamp (time-trial ghost)
  int file_tic;         // the file has been read up to this tic
  int last_erode_offset;  // deformation chunks at or before it are applied
  int frames_started;   // versions 4 and 5
  int frames_start_tic;
  int at_end;
  const char *stop_reason;
  char path[max_path_text];
};

Writer writer;
Reader reader;
char chosen_file[max_path_text];
// One chunk payload at a time, for reading and for writing; lives for the process.
uint8_t payload[max_demo_payload];

void put_u32(uint8_t *out, uint32_t v) {
  for (int i = 0; i < 4; i++) out[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get_u32(const uint8_t *in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
         static_cast<uint32_t>(in[3]) << 24;
}

// --- header -----------------------------------------------------------------------

// One header line without its line feed; 0 when the line has none (too long,
// a zero byte, or the end of the file).
int header_line(DataFile *file, char *line) {
  if (!dfile_gets(file, line, demo_header_line)) return 0;
  size_t n = strlen(line);
  if (n == 0 || line[n - 1] != '\n') return 0;
  line[n - 1] = 0;
  return 1;
}

int read_header(DataFile *file, DemoHeader *h, const char **error) {
  char line[demo_header_line];
  memset(h, 0, sizeof *h);
  const char *why = nullptr;
  int v = 0, r = 0, time = 0, laps = 0, drop = demo_default_gate_drop;
  if (!header_line(file, line)) {
    why = "no first line";
  } else if (sscanf(line, "QX%d %d %d %d %d", &v, &r, &time, &laps, &drop) < 3) {
    why = "not a demo file";
  } else if (v < 4 || v > 6) {
    why = "unknown version";
  } else if (r < 0 || r > max_slots) {
    why = "bad rider count";
  } else if (!header_line(file, line) || !line[0]) {
    why = "no track name";
  }
  if (why) {
    if (error) *error = why;
    return 0;
  }
  auto tics = [](int t) { return t < 0 ? 0 : t > max_demo_tic ? max_demo_tic : t; };
  h->version = v;
  h->rider_count = r;
  h->finish_time = tics(time);
  h->finish_laps = tics(laps);
  h->gate_drop_tic = tics(drop);
  h->track = intern_string(line);
  for (int i = 0; i < r; i++) {
    DemoRider &rider = h->riders[i];
    rider.slot = -1;
    if (!header_line(file, line)) {
      why = "rider lines cut short";
      break;
    }
    // Five fields split at "|"; the last one keeps any further bars.
    char *field = line;
    for (int k = 0; k < 5; k++) {
      char *bar = k < 4 ? strchr(field, '|') : nullptr;
      if (bar) *bar = 0;
      rider.fields[k] = intern_string(field);
      field = bar ? bar + 1 : field + strlen(field);
    }
    if (!header_line(file, line)) {
      why = "rider lines cut short";
      break;
    }
    rider.number = intern_string(line);
    rider.name = intern_string("");
    if (v < 6) continue;
    // The name, then anything up to and including the first empty line.
    for (int k = 0;; k++) {
      if (!header_line(file, line)) {
        why = "rider lines cut short";
        break;
      }
      if (k == 0) rider.name = intern_string(line);
      if (!line[0]) break;
    }
    if (why) break;
  }
  if (why) {
    if (error) *error = why;
    return 0;
  }
  h->body_start = dfile_tell(file);
  return 1;
}

// Texts go into single header lines: no line breaks, no bars inside fields.
void put_text(DataFile *file, const char *text, bool field) {
  for (const char *c = text ? text : ""; *c; c++) {
    char ch = *c;
    if (ch == '\n' || ch == '\r') ch = ' ';
    if (field && ch == '|') ch = '_';
    dfile_putc(file, ch);
  }
}

void write_header(DataFile *file, const DemoHeader &h) {
  dfile_printf(file, "QX%02d %d %d %d %d\n", demo_version_written, h.rider_count, h.finish_time, h.finish_laps,
               h.gate_drop_tic);
  put_text(file, h.track, false);
  dfile_putc(file, '\n');
  for (int i = 0; i < h.rider_count; i++) {
    const DemoRider &r = h.riders[i];
    for (int k = 0; k < 5; k++) {
      if (k) dfile_putc(file, '|');
      put_text(file, r.fields[k], true);
    }
    dfile_putc(file, '\n');
    put_text(file, r.number, false);
    dfile_putc(file, '\n');
    // An empty name would end the rider block early and shift every
    // following rider: it is written as one blank.
    put_text(file, r.name && r.name[0] ? r.name : " ", false);
    dfile_puts(file, "\n\n");
  }
}

// --- chunks -------------------------------------------------------------------------

void write_chunk(DataFile *file, int *previous_length, int tic, int type, const void *data, int length) {
  uint8_t head[demo_chunk_header];
  put_u32(head, static_cast<uint32_t>(*previous_length) ^ static_cast<uint32_t>(length));
  put_u32(head + 4, static_cast<uint32_t>(tic));
  head[8] = static_cast<uint8_t>(type);
  dfile_write(file, head, demo_chunk_header);
  if (length > 0) dfile_write(file, data, length);
  *previous_length = length;
}

struct Chunk {
  int length;
  int tic;
  int type;
};
enum ChunkRead { chunk_ok, chunk_end, chunk_cut, chunk_damaged };

// Reads the chunk at the file's position into `payload`.
ChunkRead read_chunk(DataFile *file, int previous_length, Chunk *chunk) {
  uint8_t head[demo_chunk_header];
  int got = dfile_read(file, head, demo_chunk_header);
  if (got == 0) return chunk_end;
  if (got < demo_chunk_header) return chunk_cut;
  uint32_t length = get_u32(head) ^ static_cast<uint32_t>(previous_length);
  int32_t tic = static_cast<int32_t>(get_u32(head + 4));
  if (length > static_cast<uint32_t>(max_demo_payload) || tic < 0 || tic > max_demo_tic) return chunk_damaged;
  chunk->length = static_cast<int>(length);
  chunk->tic = tic;
  chunk->type = head[8];
  if (dfile_read(file, payload, chunk->length) < chunk->length) return chunk_cut;
  return chunk_ok;
}

// --- playback -----------------------------------------------------------------------------

void stop_playback(const char *reason) {
  reader.at_end = 1;
  if (!reason) return;
  reader.stop_reason = reason;
  char text[message_line_size];
  snprintf(text, sizeof text, "Demo %.160s: %s", reader.path, reason);
  print_message(text);
}

const char *stop_text(ChunkRead r) {
  return r == chunk_cut ? "cut short, playback ends here" : r == chunk_damaged ? "damaged, playback ends here" : nullptr;
}

// A version 4 state carries the first 26 bytes of the layout; the rest is
// filled neutrally: the rider turned as the frame, wheels at rest, idle.
PackedBikeState widen_v4(const uint8_t *in) {
  PackedBikeState s{};
  memcpy(s.bytes, in, demo_v4_state_size);
  memcpy(s.bytes + 26, s.bytes + 9, 8);
  s.bytes[34] = s.bytes[35] = 128;
  return s;
}

void play_states(const Chunk &c) {
  if (c.length % demo_entry_size) return;  // not a states chunk we can read
  for (int at = 0; at < c.length; at += demo_entry_size) {
    const uint8_t *e = payload + at;
    int rider = e[0];
    int32_t tic = static_cast<int32_t>(get_u32(e + 1));
    if (rider >= reader.header.rider_count || tic < 0 || tic > max_demo_tic) continue;
    int slot = reader.header.riders[rider].slot;
    if (slot < 0) continue;
    long long stamp = static_cast<long long>(tic) + reader.tic_offset;
    if (stamp < 0 || stamp > INT32_MAX) continue;
    PackedBikeState state;
    memcpy(state.bytes, e + 5, packed_bike_state_size);
    add_state_to_history(slot, state, static_cast<int>(stamp));
  }
}

void play_chunk(const Chunk &c, int offset) {
  const ReplayRace &race = replay_race();
  switch (c.type) {
    case chunk_states:
      if (c.length % demo_entry_size) return;
      if (reader.first_states_tic < 0) {
        reader.first_states_tic = c.tic;
        bool time_trial = race.time_trial && *race.time_trial;
        if (time_trial && race.tic) {
          reader.tic_offset = *race.tic - c.tic;  // the ghost's lap starts now
        } else if (race.tic) {
          *race.tic = c.tic;
        }
      }
      play_states(c);
      return;
    case chunk_chat: {
      char text[demo_text_limit + 1];
      int n = c.length < demo_text_limit ? c.length : demo_text_limit;
      memcpy(text, payload, static_cast<size_t>(n));
      text[n] = 0;
      print_message(text);
      return;
    }
    case chunk_command: {
      if (c.length > demo_text_limit) return;
      char text[demo_text_limit + 1];
      memcpy(text, payload, static_cast<size_t>(c.length));
      text[c.length] = 0;
      int rate, used = 0;
      if (sscanf(text, "erode %d%n", &rate, &used) == 1 && used == c.length && race.erosion_rate) {
        *race.erosion_rate = rate < -1 ? -1 : rate > 100 * 1024 ? 100 * 1024 : rate;
      }
      return;
    }
    case chunk_erode:
      // Once per file position: a rewind replays the chunk but must not dig twice.
      if (c.length > demo_text_limit || offset <= reader.last_erode_offset) return;
      reader.last_erode_offset = offset;
      if (race.erode_receive) {
        long long tic = static_cast<long long>(c.tic) + reader.tic_offset;
        race.erode_receive(payload, c.length, tic < 0 ? 0 : tic > INT32_MAX ? INT32_MAX : static_cast<int>(tic));
      }
      return;
    default:
      return;
  }
}

void read_ahead_chunks() {
  const ReplayRace &race = replay_race();
  int now = race.tic ? *race.tic : 0;
  for (int i = 0; i < demo_chunks_per_read && !reader.at_end; i++) {
    if (reader.file_tic > now + demo_read_ahead_tics) return;
    if (dfile_tell(reader.file) != reader.offset && !dfile_seek(reader.file, reader.offset)) {
      stop_playback(nullptr);
      return;
    }
    Chunk c;
    ChunkRead r = read_chunk(reader.file, reader.previous_length, &c);
    if (r != chunk_ok) {
      stop_playback(stop_text(r));
      return;
    }
    play_chunk(c, reader.offset);
    reader.previous_length = c.length;
    reader.offset += c.length + demo_chunk_header;
    long long file_tic = static_cast<long long>(c.tic) + reader.tic_offset;
    reader.file_tic = file_tic > INT32_MAX ? INT32_MAX : file_tic < INT32_MIN ? INT32_MIN : static_cast<int>(file_tic);
    if (race.tic) now = *race.tic;  // the first states chunk may move the clock
  }
}

void read_ahead_frames() {
  const ReplayRace &race = replay_race();
  int now = race.tic ? *race.tic : 0;
  const DemoHeader &h = reader.header;
  int size = h.version == 4 ? demo_v4_state_size : packed_bike_state_size;
  if (!reader.frames_started) {
    reader.frames_started = 1;
    reader.frames_start_tic = now;
    reader.file_tic = now;
  }
  // Bounded, so a clock far ahead of the file cannot stall a tic.
  for (int frames = 0; frames < 4 * tics_per_second && !reader.at_end; frames++) {
    if (reader.file_tic > now + demo_frame_ahead_tics) return;
    for (int i = 0; i < h.rider_count; i++) {
      uint8_t record[packed_bike_state_size];
      int got = dfile_read(reader.file, record, size);
      if (got < size) {
        stop_playback(got == 0 && i == 0 ? nullptr : "cut short, playback ends here");
        return;
      }
      if (h.riders[i].slot < 0) continue;
      PackedBikeState state;
      if (size == demo_v4_state_size)
        state = widen_v4(record);
      else
        memcpy(state.bytes, record, sizeof state.bytes);
      add_state_to_history(h.riders[i].slot, state, reader.file_tic);
    }
    reader.file_tic++;
  }
}

bool ends_with(const char *text, const char *suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && strcmp(text + n - m, suffix) == 0;
}

bool is_default_demo(const char *path) {
  if (!path) return true;
  const char *p = path[0] == '@' ? path + 1 : path;
  return strcmp(p, "demos/default.qxdemo") == 0 || ends_with(p, "/demos/default.qxdemo");
}

void track_file(char *out, size_t size, const char *file_name) {
  const ReplayRace &race = replay_race();
  const char *track = race.track_name ? race.track_name() : nullptr;
  snprintf(out, size, "@%s/%s", track ? track : "", file_name);
}

}  // namespace

// --- reading the header ------------------------------------------------------------------

int demo_read_header(const char *path, DemoHeader *header, const char **error) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) {
    if (error) *error = "cannot be opened";
    memset(header, 0, sizeof *header);
    return 0;
  }
  int ok = read_header(file, header, error);
  dfile_close(file);
  return ok;
}

// --- recording --------------------------------------------------------------------------------

void demo_open_write() {
  if (writer.file) demo_close_write();
  const ReplayRace &race = replay_race();
  bool time_trial = race.time_trial && *race.time_trial;
  char path[max_path_text];
  if (time_trial)
    track_file(path, sizeof path, "lastlap.qxdemo");
  else
    snprintf(path, sizeof path, "%s", default_demo_path);
  // Written beside the target and put in place when closed, so a crash
  // while recording leaves the previous demo of that name whole.
  DataFile *file = dfile_open_replace(path);
  if (!file) return;
  writer.file = file;
  writer.time_trial = time_trial;
  writer.previous_length = 0;
  writer.recorded_count = 0;
  int phase = race.network_phase ? race.network_phase() : 0;
  static DemoHeader h;  // large; only used while writing the header
  memset(&h, 0, sizeof h);
  for (int s = 0; s < max_slots && race.slot_bike && race.slot_drive_mode; s++) {
    if (!race.slot_bike(s)) continue;
    int mode = race.slot_drive_mode(s);
    bool recorded = phase == 2 ? (mode >= 0 && mode <= 2) : phase == 1 ? (mode == 1 || mode == 2) : (mode == 0 || mode == 2);
    if (!recorded) continue;
    DemoRider &r = h.riders[writer.recorded_count];
    const char *bike = nullptr, *textures[4] = {}, *number = nullptr, *name = nullptr;
    if (race.slot_rider) race.slot_rider(s, &bike, textures, &number, &name);
    // File order: bike, rider body, bike graphics, wheels, helmet.
    r.fields[0] = bike;
    r.fields[1] = textures[0];
    r.fields[2] = textures[2];
    r.fields[3] = textures[3];
    r.fields[4] = textures[1];
    r.number = number;
    r.name = name;
    writer.recorded[writer.recorded_count++] = s;
  }
  h.rider_count = writer.recorded_count;
  h.finish_time = race.finish_time ? *race.finish_time : 0;
  h.finish_laps = race.finish_laps ? *race.finish_laps : 0;
  h.gate_drop_tic = race.gate_drop_tic ? *race.gate_drop_tic : 0;
  h.track = race.track_name ? race.track_name() : "";
  write_header(file, h);
}

int demo_recording() { return writer.file != nullptr; }

void demo_write_tic(int force) {
  if (!writer.file) return;
  const ReplayRace &race = replay_race();
  int tic = race.tic ? *race.tic : 0;
  if ((force || tic % 4 == 0) && race.slot_bike && race.slot_drive_mode) {
    PackTerrain terrain = race.pack_terrain ? race.pack_terrain() : PackTerrain{};
    for (int s = 0; s < max_slots; s++) {
      BikeState *bike = race.slot_bike(s);
      int mode = bike ? race.slot_drive_mode(s) : -1;
      if (mode == 0 || mode == 2) add_state_to_history(s, pack_bike_state(bike, terrain), tic);
    }
  }
  if (!force && tic % 16 != 0) return;
  int length = 0;
  for (int i = 0; i < writer.recorded_count; i++) {
    int slot = writer.recorded[i];
    const HistoryRing *ring = history_ring(slot);
    for (int k = ring->pending - 1; k >= 0; k--) {
      const HistoryEntry &e = ring->entries[(ring->head - k + history_length) % history_length];
      if (e.tic < 0) continue;
      uint8_t *out = payload + length;
      out[0] = static_cast<uint8_t>(i);
      put_u32(out + 1, static_cast<uint32_t>(e.tic));
      memcpy(out + 5, e.state.bytes, packed_bike_state_size);
      length += demo_entry_size;
    }
    history_take_pending(slot);
  }
  if (length == 0) return;
  write_chunk(writer.file, &writer.previous_length, tic, chunk_states, payload, length);
  dfile_flush(writer.file);
}

void demo_write_event(int type, const void *data, int length) {
  if (!writer.file || length < 0 || length > max_demo_payload || (length > 0 && !data)) return;
  const ReplayRace &race = replay_race();
  write_chunk(writer.file, &writer.previous_length, race.tic ? *race.tic : 0, type, data, length);
  dfile_flush(writer.file);
}

void demo_close_write() {
  if (!writer.file) return;
  DataFile *file = writer.file;
  writer.file = nullptr;
  if (writer.time_trial) {
    dfile_commit_replace(file);
    writer.name[0] = 0;
    return;
  }
  // Backups move only once the new demo is complete.
  int n = game_settings().demo_backups;
  n = n < 0 ? 0 : n > max_demo_backups ? max_demo_backups : n;
  char from[64], to[64];
  for (int i = n - 2; i >= 0; i--) {
    snprintf(from, sizeof from, "@demos/default%02d.qxdemo", i);
    snprintf(to, sizeof to, "@demos/default%02d.qxdemo", i + 1);
    dfile_rename(from, to);
  }
  if (n > 0) dfile_rename(default_demo_path, "@demos/default00.qxdemo");
  int ok = dfile_commit_replace(file);
  if (ok && writer.name[0]) {
    char named[max_path_text];
    snprintf(named, sizeof named, "@demos/%s", writer.name);
    dfile_rename(default_demo_path, named);
  }
  writer.name[0] = 0;
}

int demo_name_recording(const char *text) {
  if (!writer.file || writer.time_trial) {
    print_message("Not currently recording a demo");
    return 0;
  }
  while (*text == ' ' || *text == '\t') text++;
  size_t n = strcspn(text, " \t\n");
  if (n >= static_cast<size_t>(max_demo_name + 1)) {
    print_message("Name too long");
    return 0;
  }
  char name[max_demo_name + 8];
  memcpy(name, text, n);
  name[n] = 0;
  // The name stays inside the demos directory.
  if (!file_name_is_plain(name) || name[0] == '.') {
    print_message("Bad demo name");
    return 0;
  }
  if (!ends_with(name, ".qxdemo")) strcat(name, ".qxdemo");
  snprintf(writer.name, sizeof writer.name, "%s", name);
  print_message("Demo name updated");
  return 1;
}

// --- playback -----------------------------------------------------------------------------------

void demo_choose_file(const char *path) {
  snprintf(chosen_file, sizeof chosen_file, "%s", path ? path : "");
}
const char *demo_chosen_file() { return chosen_file[0] ? chosen_file : nullptr; }

int demo_open_read(const char *path) {
  demo_close_read();
  const char *p = path ? path : chosen_file[0] ? chosen_file : default_demo_path;
  snprintf(reader.path, sizeof reader.path, "%s", p);
  char text[message_line_size];
  DataFile *file = dfile_open(p, "rb");
  if (!file) {
    snprintf(text, sizeof text, "Can't open demo %.200s", p);
    print_message(text);
    return 0;
  }
  const char *why = nullptr;
  if (!read_header(file, &reader.header, &why)) {
    dfile_close(file);
    memset(&reader.header, 0, sizeof reader.header);
    snprintf(text, sizeof text, "Can't play demo %.160s: %s", p, why);
    print_message(text);
    return 0;
  }
  reader.file = file;
  reader.offset = reader.header.body_start;
  reader.previous_length = 0;
  reader.first_states_tic = -1;
  reader.tic_offset = 0;
  reader.file_tic = 0;
  reader.last_erode_offset = -1;
  reader.frames_started = 0;
  reader.at_end = 0;
  reader.stop_reason = nullptr;
  history_set_version(reader.header.version);
  const ReplayRace &race = replay_race();
  if (race.finish_time) *race.finish_time = reader.header.finish_time;
  if (race.finish_laps) *race.finish_laps = reader.header.finish_laps;
  if (race.gate_drop_tic) *race.gate_drop_tic = reader.header.gate_drop_tic;
  return 1;
}

void demo_close_read() {
  if (reader.file) dfile_close(reader.file);
  reader.file = nullptr;
  reader.header.rider_count = 0;
  reader.header.track = nullptr;
  reader.header.version = 0;
  history_set_version(5);
}

int demo_playing() { return reader.file != nullptr; }
int demo_version() { return reader.file ? reader.header.version : 0; }
int demo_rider_count() { return reader.header.rider_count; }
const DemoRider *demo_rider(int rider) {
  return rider >= 0 && rider < reader.header.rider_count ? &reader.header.riders[rider] : nullptr;
}
const char *demo_track() { return reader.file ? reader.header.track : nullptr; }

void demo_map_rider(int rider, int slot) {
  if (rider < 0 || rider >= reader.header.rider_count) return;
  reader.header.riders[rider].slot = slot >= 0 && slot < max_slots ? slot : -1;
}

void demo_read_ahead() {
  if (!reader.file || reader.at_end) return;
  if (reader.header.version == 6)
    read_ahead_chunks();
  else
    read_ahead_frames();
}

const char *demo_stop_reason() { return reader.stop_reason; }

void demo_seek_reader(int tic) {
  if (!reader.file) return;
  if (tic < 0) tic = 0;
  reader.at_end = 0;
  if (reader.header.version == 6) {
    // Walk the links back to a chunk stamped early enough that the rings
    // fill from before the target.
    int target = tic - demo_read_ahead_tics > 0 ? tic - demo_read_ahead_tics : 0;
    int offset = reader.offset, previous = reader.previous_length;
    while (offset > reader.header.body_start) {
      int at = offset - previous - demo_chunk_header;
      uint8_t head[demo_chunk_header];
      if (at < reader.header.body_start || !dfile_seek(reader.file, at) ||
          dfile_read(reader.file, head, demo_chunk_header) < demo_chunk_header) {
        offset = reader.header.body_start;  // the chain is broken: start over
        previous = 0;
        break;
      }
      offset = at;
      previous = static_cast<int>(get_u32(head) ^ static_cast<uint32_t>(previous));
      if (static_cast<int32_t>(get_u32(head + 4)) + reader.tic_offset <= target) break;
    }
    reader.offset = offset;
    reader.previous_length = previous;
    if (!dfile_seek(reader.file, offset)) reader.at_end = 1;
  } else {
    if (!reader.frames_started) {
      reader.frames_started = 1;
      reader.frames_start_tic = 0;
    }
    int frame = tic - reader.frames_start_tic;
    if (frame < 0) {
      frame = 0;
      tic = reader.frames_start_tic;
    }
    int size = reader.header.version == 4 ? demo_v4_state_size : packed_bike_state_size;
    long long at = reader.header.body_start + static_cast<long long>(frame) * reader.header.rider_count * size;
    if (at > max_demo_tic || !dfile_seek(reader.file, static_cast<int>(at))) reader.at_end = 1;
  }
  reader.file_tic = tic;
}

// --- the time-trial ghost -------------------------------------------------------------------------

int demo_ghost_exists() {
  char path[max_path_text];
  track_file(path, sizeof path, "fastlap.qxdemo");
  DataFile *file = dfile_open(path, "rb");
  dfile_close(file);
  return file != nullptr;
}

int demo_open_ghost() {
  char path[max_path_text];
  track_file(path, sizeof path, "fastlap.qxdemo");
  return demo_open_read(path);
}

int demo_keep_lap_as_fastest() {
  char from[max_path_text], to[max_path_text];
  track_file(from, sizeof from, "lastlap.qxdemo");
  track_file(to, sizeof to, "fastlap.qxdemo");
  DataFile *in = dfile_open(from, "rb");
  if (!in) return 0;
  DataFile *out = dfile_open_replace(to);
  if (!out) {
    dfile_close(in);
    return 0;
  }
  int got;
  while ((got = dfile_read(in, payload, 65536)) > 0) dfile_write(out, payload, got);
  dfile_close(in);
  return dfile_commit_replace(out);
}

// --- Playback Race -------------------------------------------------------------------------------------

void demo_playback_setup(const char *path, int mode, const int gate_kinds[playback_gate_count], int record_setting,
                         PlaybackSetup *setup) {
  demo_choose_file(path);
  memset(setup, 0, sizeof *setup);
  setup->laps = 10;
  if (mode != playback_race_against) return;  // every slot plays the demo; nothing to record
  int gate = 0;
  for (int g = 0; g < playback_gate_count; g++)
    if (gate_kinds && gate_kinds[g] == 1) {
      gate = g;
      break;
    }
  setup->kinds[gate] = 1;
  setup->record = record_setting ? 1 : 0;
  if (setup->record && is_default_demo(path)) {
    print_message("Can't record and play from same file - recording disabled");
    setup->record = 0;
  }
}

// --- copying ------------------------------------------------------------------------------------------------

int demo_rewrite(const char *from, const char *to) {
  DataFile *in = dfile_open(from, "rb");
  if (!in) return -1;
  static DemoHeader h;
  if (!read_header(in, &h, nullptr) || h.version != 6) {
    dfile_close(in);
    return -1;
  }
  DataFile *out = dfile_open_replace(to);
  if (!out) {
    dfile_close(in);
    return -1;
  }
  write_header(out, h);
  int previous_in = 0, previous_out = 0, chunks = 0;
  Chunk c;
  while (read_chunk(in, previous_in, &c) == chunk_ok) {
    write_chunk(out, &previous_out, c.tic, c.type, payload, c.length);
    previous_in = c.length;
    chunks++;
  }
  dfile_close(in);
  return dfile_commit_replace(out) ? chunks : -1;
}

void demo_reset_for_tests() {
  if (writer.file) dfile_close(writer.file);
  writer.file = nullptr;
  writer.name[0] = 0;
  demo_close_read();
  memset(&reader.header, 0, sizeof reader.header);
  reader.stop_reason = nullptr;
  chosen_file[0] = 0;
}
