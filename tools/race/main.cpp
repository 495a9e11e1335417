// torvane-race: runs a race without a window or sound, as fast as the
// machine allows, and prints the results, the simulated and the wall time,
// their ratio and a hash of the final state. It records a demo of the race,
// or plays one back and checks the hash, so any demo can serve as a
// regression test. The last lines are a summary for scripts, one item a
// line.
//
// With --connect it joins a race server instead, as a client whose rider
// rides on the auto pilot: the race follows the server's clock in real time,
// and the run ends when the server's race is over (or at --limit-minutes of
// race time), after a clean disconnect. Then it also prints what went over
// the network, and the chat lines as they arrive.
//
// With --series it runs the next event of a points series from the game
// data, the player's slot ridden by the auto pilot, records its result in
// the series' standings file and prints the standings. Run again, it runs
// the event after that. --command runs a console line (chat or a slash
// command): offline right after the race reset, online once the rider is in
// the server's race. Every message the game prints is echoed as
// "message: ...".
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/config.h"
#include "app/console.h"
#include "app/frame_clock.h"
#include "app/types.h"
#include "assets/file.h"
#include "net/client.h"
#include "net/file_transfer.h"
#include "platform/input.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/race_net.h"
#include "race/running_order.h"
#include "race/series.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "runner/runner.h"
#include "track/gates.h"
#include "track/track.h"
#include "runner_options.h"

namespace {


double monotonic_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}


// Copies the finished default demo to the file asked for, through a
// temporary file renamed into place.
bool keep_demo(const char *target) {
  DataFile *in = dfile_open(default_demo_path, "rb");
  if (!in) return false;
  char temp[4096];
  if (snprintf(temp, sizeof temp, "%s.tmp", target) >= static_cast<int>(sizeof temp)) {
    dfile_close(in);
    return false;
  }
  FILE *out = fopen(temp, "wb");
  if (!out) {
    dfile_close(in);
    return false;
  }
  static char buffer[65536];
  bool ok = true;
  for (;;) {
    int got = dfile_read(in, buffer, sizeof buffer);
    if (got <= 0) break;
    ok &= fwrite(buffer, 1, static_cast<size_t>(got), out) == static_cast<size_t>(got);
  }
  dfile_close(in);
  ok &= fclose(out) == 0;
  if (!ok || rename(temp, target) != 0) {
    remove(temp);
    return false;
  }
  return true;
}

int count_bikes(int *finished) {
  int n = 0;
  *finished = 0;
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (!s->bike) continue;
    n++;
    if (s->timing.finished) (*finished)++;
  }
  return n;
}

// Whether every played rider's history has run out at tic.
bool playback_done(int tic) {
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (s->bike && s->drive_mode == drive_history && history_newest_tic(i) > tic) return false;
  }
  return true;
}

void print_results() {
  const RaceState &race = race_state();
  printf("%-4s %-4s %-4s %-16s %-4s %-10s %s\n", "Pos", "Slot", "No.", "Bike", "Laps", "Time", "Finished");
  for (int k = 0; k < race.running_count; k++) {
    const RunningEntry &e = race.running_order[k];
    const Slot *s = race_slot(e.slot);
    if (!s->bike) continue;
    int laps = race.normal_lap_length > 0 && e.position >= race.first_lap_length
                   ? 1 + (e.position - race.first_lap_length) / race.normal_lap_length
                   : 0;
    double t = e.tic > 0 ? (e.tic - race.gate_drop_tic) * seconds_per_tic : 0;
    printf("%-4d %-4d %-4s %-16s %-4d %10.3f %s\n", k + 1, e.slot, s->number, s->bike_model ? s->bike_model : "",
           laps, t, s->timing.finished ? "yes" : "no");
  }
}

// The summary for scripts: the last lines of every run, in this order.
void print_summary(uint64_t trace, double cpu, int finished, int riders, double simulated, double wall,
                   uint64_t hash) {
  printf("trace hash: %016" PRIx64 "\n", trace);
  printf("cpu seconds: %.3f\n", cpu);
  printf("cpu real-time ratio: %.2f\n", cpu > 0 ? simulated / cpu : 0.0);
  printf("riders finished: %d of %d\n", finished, riders);
  printf("simulated seconds: %.3f\n", simulated);
  printf("wall seconds: %.3f\n", wall);
  printf("real-time ratio: %.2f\n", wall > 0 ? simulated / wall : 0.0);
  printf("state hash: %016" PRIx64 "\n", hash);
  fflush(stdout);
}

// --- Console and series ------------------------------------------------------------

void echo_message(const char *text) {
  size_t n = strlen(text);
  printf("message: %s%s", text, n > 0 && text[n - 1] == '\n' ? "" : "\n");
  fflush(stdout);
}

void run_commands(const RunnerOptions &o) {
  for (int i = 0; i < o.command_count; i++) {
    int handled = run_console_line(o.commands[i]);
    printf("command: %s: %s\n", o.commands[i], handled ? "handled" : "not handled");
  }
  fflush(stdout);
}

// The local rider rides as the robots do: standard physics, and no
// automatic dab, which would keep a foot down when the auto pilot lets the
// clutch out.
void ride_like_a_robot() {
  SetupSettings &setup = setup_settings();
  select_choice(&setup.arcade, "No");
  select_choice(&setup.auto_dab, "No");
}

// The Standings screen's table as text, block by block.
void print_standings(const Series *s) {
  char title[series_text_size + 32];
  standings_title(s, title, sizeof title);
  printf("series: %s\n", title);
  printf("series: events done: %d of %d\n", s->events_done, s->event_count);
  static StandingsBlock block;
  for (int b = 0; b < standings_block_count(s); b++) {
    standings_block(s, b, setup_settings().number.text, &block);
    printf("standings:");
    for (int c = 0; c < block.column_count; c++) printf(" %s |", block.header[c].text);
    printf("\n");
    for (int r = 0; r < block.row_count; r++) {
      printf("standings:");
      for (int c = 0; c < block.column_count; c++) printf(" %s |", block.rows[r][c].text);
      printf("\n");
    }
  }
  fflush(stdout);
}

// Selects the series and starts its next event; returns 0 to race, else
// the exit status (with -1 for "nothing left to race").
int start_series(const RunnerOptions &o) {
  load_series();
  int index = find_series(o.series);
  if (index < 0) {
    fprintf(stderr, "torvane-race: no series '%s'\n", o.series);
    return 1;
  }
  select_series(index);
  if (o.reset_points) reset_series_points();
  ride_like_a_robot();
  int started = start_series_event(0);
  if (started == 0) {
    printf("series: every event is done\n");
    print_standings(series_at(index));
    return -1;
  }
  if (started < 0) {
    fprintf(stderr, "torvane-race: the track could not be loaded\n");
    return 1;
  }
  return 0;
}

// --- Online ----------------------------------------------------------------------

void print_chat(const char *text) {
  printf("chat: %s\n", text);
  fflush(stdout);
}

void sleep_seconds(double seconds) {
  if (seconds <= 0) return;
  timespec t = {static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
  nanosleep(&t, nullptr);
}

// What the client knew of its race while it rode it.
struct Ridden {
  int slot = slot_none, gate_position = slot_none;
  int32_t race_id = 0;
  double travelled = 0;  // ft, the farthest the rider got from its start
};

void print_network(const Ridden &r) {
  const RaceNetStats &st = race_net_stats();
  printf("net: slot %d, gate position %d, race id %d, races %d\n", r.slot, r.gate_position,
         static_cast<int>(r.race_id), st.races);
  printf("net: travelled feet: %.1f\n", r.travelled);
  for (int i = 0; i < max_slots; i++)
    if (st.remote_states[i] > 0) printf("net: states from slot %d: %d\n", i, st.remote_states[i]);
  printf("net: chat received: %d\n", st.chat_received);
  printf("net: timing entries received: %d\n", st.timing_received);
  printf("net: erodes sent: %d\n", st.erodes_sent);
  printf("net: erodes received: %d\n", st.erodes_received);
  printf("net: erodes from others: %d\n", st.erodes_foreign);
}

// Joins the server and rides its race in real time. The exit status is 0
// when this client rode a race and left it when it was over; 1 when it never
// got into one or the connection ended under it.
int run_connected(const RunnerOptions &o) {
  SetupSettings &setup = setup_settings();
  if (o.name) set_text(&setup.name, o.name);
  if (o.number) set_text(&setup.number, o.number);
  ride_like_a_robot();
  race_connect_net();
  race_net_set_chat_observer(print_chat);
  net_set_password(o.password);
  net_set_fake_conditions(o.fake_lag, static_cast<int>(o.fake_loss), static_cast<uint32_t>(o.seed) + 1);
  net_connect(o.connect);
  fprintf(stderr, "torvane-race: connecting to %s as %s\n", o.connect, setup.name.text);

  RaceState &race = race_state();
  long limit = static_cast<long>(o.limit_minutes * 60 * tics_per_second);
  long tics = 0;
  uint64_t trace = state_hash_start;
  bool rode = false;       // in a race with a start position
  bool leaving = false;    // our disconnect is under way
  bool chat_sent = false;
  bool send_started = false;
  bool opened = false;     // the client has had a socket
  Ridden ridden;
  double wall_start = monotonic_seconds(), cpu_start = cpu_seconds(), shown = wall_start;
  FrameClock clock;
  frame_clock_start(&clock, wall_start);
  console_set_frame_clock(&clock);
  bool commands_run = false;
  FrameTiming timing = {0, 0, 1};
  for (;;) {
    double now = monotonic_seconds(), sleep_for;
    double advance = frame_advance_for(now - clock.last_stamp, &timing, &sleep_for);
    if (sleep_for > 0) {
      // Sleep rather than spin: several clients may share a machine.
      sleep_seconds(sleep_for);
      continue;
    }
    advance = net_scale_advance(advance, race.tic);
    frame_clock_advance(&clock, advance, now);
    message_set_clock(clock.program_clock);
    while (clock.sim_clock + seconds_per_tic <= clock.target_clock) {
      clock.sim_clock += seconds_per_tic;
      race_net_tic(clock.program_clock);
      opened |= net_connected() != 0;
      if (!net_connected() || net_waiting_for_server() || !current_track_dir()) continue;
      if (net_phase() == net_phase_racing && net_gate_position() != slot_none) rode = true;
      if (o.sendfile && !send_started && rode) {
        std::string line = std::string("sendfile ") + o.sendfile;
        file_send_start(line.c_str());
        send_started = true;
      }
      if (o.chat && !chat_sent && rode && race.tic >= race.gate_drop_tic) {
        net_send_chat(o.chat);
        chat_sent = true;
      }
      if (!commands_run && rode && race.tic >= race.gate_drop_tic) {
        run_commands(o);
        commands_run = true;
      }
      if (o.simple_driver)
        simple_driver_tic(net_my_slot());
      else
        runner_robot_rider_tic(o.personality);
      race_step();
      tics++;
      if (rode && net_phase() == net_phase_racing) {
        ridden.slot = net_my_slot();
        ridden.gate_position = net_gate_position();
        ridden.race_id = net_race_id();
        const Slot *me = race_slot(ridden.slot);
        if (me && me->bike) {
          const dReal *p = dBodyGetPosition(me->bike->bodies[bike_frame]);
          double d2 = 0;
          for (int k = 0; k < 3; k += 2) d2 += (p[k] - me->start_position[k]) * (p[k] - me->start_position[k]);
          ridden.travelled = std::max(ridden.travelled, std::sqrt(d2));
        }
      }
      if (race.tic > 0 && race.tic % 4 == 0) {
        int stamp = race.tic;
        trace = hash_bytes(trace, &stamp, sizeof stamp);
        trace = bikes_position_hash(trace);
      }
    }
    message_expire(clock.program_clock);
    if (!net_connected()) break;
    // The race is over for us when the server moves on (restart or a new
    // track), when our own race has its results, or at the limit.
    int phase = net_phase();
    // A file being sent keeps the run going until its last part has been
    // acknowledged (or twice the limit).
    bool sending = o.sendfile && rode && (!send_started || file_send_active() || net_reliable_backlog() > 0);
    bool over = rode && ((phase != net_phase_racing && phase != net_phase_disconnecting) || race.results_final ||
                         tics >= limit) &&
                (!sending || tics >= 2 * limit);
    bool stuck = !rode && now - wall_start > o.join_timeout;
    if ((over || stuck) && !leaving) {
      if (stuck) fprintf(stderr, "torvane-race: no race joined within %.0f s\n", o.join_timeout);
      leaving = true;
      net_disconnect();
    }
    if (o.progress && now - shown >= 0.25) {
      shown = now;
      fprintf(stderr, "\rphase %d  tic %d  server tic %d  ping %d  ", phase, race.tic,
              static_cast<int>(net_highest_server_tic()), net_ping());
    }
  }
  double wall = monotonic_seconds() - wall_start, cpu = cpu_seconds() - cpu_start;
  if (o.progress) fprintf(stderr, "\n");
  if (!opened) fprintf(stderr, "torvane-race: could not reach %s\n", o.connect);
  uint64_t hash = race_state_hash(-1);
  print_results();
  print_network(ridden);
  int finished = 0;
  int riders = count_bikes(&finished);
  print_summary(trace, cpu, finished, riders, tics * seconds_per_tic, wall, hash);
  demo_close_write();  // a "namedemo" name is applied here
  race_free_bikes();
  net_client_shutdown();
  if (rode && !leaving) fprintf(stderr, "torvane-race: the server ended the connection\n");
  return rode && leaving ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  RunnerOptions o;
  int status = parse_runner_options(argc, argv, &o, stderr);
  if (status) return status < 0 ? 0 : status;
  if (!runner_open_data(o.home)) return 1;
  message_set_observer(echo_message);
  GameSettings &g = game_settings();
  if (o.demos) select_choice(&g.record, "Yes");
  if (o.connect) return run_connected(o);

  if (!o.play && !o.series && !select_choice(&g.track, o.track)) {
    fprintf(stderr, "torvane-race: no track '%s'\n", o.track);
    return 1;
  }
  race_options().erode_rate = static_cast<int>(std::floor(o.erode * 1024.0));
  // The race seeds the shared generator with the tic counter at its reset.
  race_state().tic = static_cast<int>(o.seed);
  int ok;
  if (o.series) {
    if (o.record) select_choice(&g.record, "Yes");
    int status = start_series(o);
    if (status) return status < 0 ? 0 : status;
    ok = 1;
  } else if (o.play) {
    DemoHeader header;
    const char *error = nullptr;
    if (!demo_read_header(o.play, &header, &error)) {
      fprintf(stderr, "torvane-race: %s: %s\n", o.play, error ? error : "not a demo");
      return 1;
    }
    demo_choose_file(o.play);
    int kinds[max_slots] = {};
    ok = race_reset(kinds, 1, 0, 0, 10, o.skill);
  } else {
    int kinds[max_slots] = {};
    for (int i = 0; i < o.robots; i++) kinds[i] = slot_kind_robot;
    int finish_time = static_cast<int>(o.minutes * 60 * tics_per_second);
    ok = race_reset(kinds, 0, o.record != nullptr || o.demos, finish_time, o.laps, o.skill);
  }
  if (!ok) {
    fprintf(stderr, "torvane-race: the track could not be loaded\n");
    return 1;
  }
  RaceState &race = race_state();
  int finished = 0;
  int riders = count_bikes(&finished);
  fprintf(stderr, "torvane-race: %s, %d riders, %s\n", current_track_dir(), riders,
          o.play ? "playing a demo" : o.simple_driver ? "simple driver" : "auto pilot");
  // The console's chat clock follows the race: one tic of program time a tic.
  FrameClock console_clock = {};
  console_set_frame_clock(&console_clock);
  run_commands(o);

  long limit = static_cast<long>(o.limit_minutes * 60 * tics_per_second);
  long tics = 0;
  uint64_t trace = state_hash_start;
  double wall_start = monotonic_seconds(), cpu_start = cpu_seconds(), shown = wall_start;
  // A recording runs on to a tic whose states chunk is written, so the
  // demo ends exactly where the run does.
  // Played back, the final state is taken before the step that poses the
  // last recorded tic: the ground is then as the recording left it (that
  // step would drain the erode queue once more).
  uint64_t final_hash = 0;
  bool have_final = false;
  for (;;) {
    if (o.play) {
      if (tics >= limit) break;
      if (!have_final && playback_done(race.tic)) {
        final_hash = race_state_hash(race.tic);
        have_final = true;
      }
    } else {
      bool over = race.results_final || tics >= limit;
      if (over && race.tic % 16 == 0) break;
    }
    if (o.simple_driver)
      for (int i = 0; i < max_slots; i++)
        if (race_slot(i)->drive_mode == drive_robot) simple_driver_tic(i);
    if (o.series) runner_robot_rider_tic(o.personality);
    race_step();
    tics++;
    console_clock.program_clock = tics * seconds_per_tic;
    // The demo writer packs every fourth tic after the step; playback poses
    // at the tic before the step's increment. Both fold the same states.
    int stamp = o.play ? race.tic - 1 : race.tic;
    if (stamp > 0 && stamp % 4 == 0) {
      trace = hash_bytes(trace, &stamp, sizeof stamp);
      trace = bikes_position_hash(trace);
    }
    if (o.play && playback_done(race.tic - 1)) break;
    if (o.progress && (tics & 127) == 0) {
      double now = monotonic_seconds();
      if (now - shown >= 0.25) {
        shown = now;
        double sim = tics * seconds_per_tic;
        fprintf(stderr, "\rtic %ld  simulated %.1f s  wall %.1f s  ratio %.2f  ", tics, sim, now - wall_start,
                sim / (now - wall_start));
      }
    }
  }
  double wall = monotonic_seconds() - wall_start, cpu = cpu_seconds() - cpu_start;
  if (o.progress) fprintf(stderr, "\n");
  uint64_t hash = have_final ? final_hash : race_state_hash(o.play ? race.tic - 1 : -1);

  // An event left at the limit counts as it stands, as at the game's shutdown.
  if (o.series) finish_series_event();
  if (o.record || o.demos) demo_close_write();
  if (o.record) {
    if (!keep_demo(o.record)) {
      fprintf(stderr, "torvane-race: could not write %s\n", o.record);
      return 1;
    }
  }
  print_results();
  riders = count_bikes(&finished);
  double simulated = tics * seconds_per_tic;
  if (o.series) print_standings(series_at(selected_series()));
  print_summary(trace, cpu, finished, riders, simulated, wall, hash);
  race_free_bikes();
  demo_close_read();

  if (o.expect_hash) {
    uint64_t expected = strtoull(o.expect_hash, nullptr, 16);
    if (expected != hash) {
      fprintf(stderr, "torvane-race: state hash mismatch: expected %016" PRIx64 ", got %016" PRIx64 "\n", expected,
              hash);
      return 1;
    }
  }
  return 0;
}
