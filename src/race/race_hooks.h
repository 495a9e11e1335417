// The points where the race reset and the race step reach modules that are
// not part of this build yet: robots and their lines, history and demos,
// ground deformation and roost, contacts with objects and other bikes, engine
// sound and the network client. Each is
// a small no-op (or a neutral answer) until its module lands and replaces it.
#pragma once

struct BikeState;

// --- Robot lines and auto pilot -----------------------------------------------
void hook_save_lines();                      // writes the learnt lines (lines)
void hook_clear_lines();                     // empties the line tables (lines)
void hook_load_lines(int skill);             // "lines_novice" ... for the skill (lines)
void hook_analyse_lines();                   // thins slots, best chains (lines)
void hook_set_personality(BikeState *bike, const char *name);  // auto pilot setup (robots)
void hook_autopilot(int slot);               // writes a robot's controls (robots)
void hook_record_lines(int slot);            // samples the rider's line (lines)

// --- History and demos ----------------------------------------------------------
void hook_clear_history();                   // empties every history ring (history)
void hook_history_pose(int slot, int tic);   // poses a history-driven bike (history)
int hook_history_newest_tic(int slot);       // newest stamp in the ring, -1 when empty (history)
void hook_demo_close_read();                 // closes the demo being played (demos)
void hook_demo_close_write();                // closes and names the recording (demos)
void hook_demo_open_write();                 // starts recording (demos)
// Opens the demo to play (a path or null for the default); 0 when none (demos).
int hook_demo_open_read(const char *path);
int hook_demo_rider_count();                 // riders in the played demo header (demos)
// Rider i of the played demo: fills number, bike, four textures and name; 0 when none (demos).
int hook_demo_rider(int i, const char **number, const char **bike, const char *textures[4], const char **name);
void hook_demo_map_rider(int rider, int slot);  // which slot plays that rider (demos)
const char *hook_demo_track();               // the played demo's track, null when none (demos)
void hook_demo_write_tic(int force);         // packs states, writes chunks (demos)
void hook_demo_read_ahead();                 // feeds the played riders' histories (demos)

// --- Ground, roost, objects, other bikes ------------------------------------------
void hook_erode_sample(BikeState *bike);     // wheel marks of one bike (deformation)
void hook_erode_apply(int rate);             // drains the erode queue at rate / 1024 (deformation)
void hook_roost_emit(int slot, BikeState *bike);  // thrown dirt from the wheels (roost)
void hook_roost_step();                      // moves the roost particles (roost)
// Contacts of a bike with the trackside objects near it; a touched object
// gets last_contact_tic = tic (collisions).
void hook_object_contacts(BikeState *bike, int tic);
// Stamps only the start-gate objects a history-driven bike touches (collisions).
void hook_start_gate_touch(BikeState *bike, int tic);
void hook_bike_bike_contacts(BikeState *a, BikeState *b, int remote);  // (collisions)

// --- Sound ------------------------------------------------------------------------
void hook_sound_attach(int slot, BikeState *bike, const char *bike_texture);  // engine voice (sound)
void hook_sound_free(int slot);              // frees the slot's engine voice (sound)

void hook_place_free_camera(BikeState *bike);  // free camera 5 above the bike (cameras)

// --- Network ------------------------------------------------------------------------
void hook_net_clear_slots();                 // clears the per-slot network data (network)
void hook_net_remote_update(int slot);       // a remote rider's update (network)
