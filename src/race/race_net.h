// The race as the network client sees it: the client's hooks filled from the
// slot table, the history, the terrain and the demo recorder, and the race's
// network mode (connected, local slot, gate drop, per-slot server updates)
// kept in step with the connection.
//
// How a program uses it: race_connect_net once at start-up, before
// net_connect; race_net_tic once per tic before the race step (it runs the
// client); the race step reaches race_net_clear_slots and
// race_net_remote_update through its seams.
#pragma once
#include <cstdint>

#include "app/types.h"

// Installs the hooks in the network client (and the online hiding rule in
// the history). Once per process; calling it again does no harm.
void race_connect_net();

// One run of the network client; when the connection has ended, the race
// leaves its network mode (erodes are applied here again, arcade physics is
// allowed, the race goes on offline with what it has).
void race_net_tic(double now);

// The reset's "clear the per-slot network data" (offline races).
void race_net_clear_slots();
// A remote rider's update in the race step: a bike that a collision woke up
// settles back onto its history.
void race_net_remote_update(int slot);
// Online hiding rule for a history-driven slot: no state from the server for
// a second, or the off-course rule (also used for collisions).
int race_net_hidden(int slot);

// What came and went, for the headless runner and tests. Cleared by
// race_connect_net and race_net_reset_stats.
struct RaceNetStats {
  int races;                    // resets for a server race
  int remote_states[max_slots];  // states taken into a history, per slot
  int chat_received;
  int timing_received;          // remote timing entries taken
  int erodes_sent;              // packets of our own wheels sent to the server
  int erodes_received;          // packets applied from the server
  int erodes_foreign;           // of those, the ones that are not our own echoed back
};
const RaceNetStats &race_net_stats();
void race_net_reset_stats();
// Called with each chat line from the server (after it is printed); null for none.
void race_net_set_chat_observer(void (*observer)(const char *text));
