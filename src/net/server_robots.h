// Robot riders on the race server. With the game data at hand the server
// runs the race itself, with the simulation the game uses: the track is
// loaded, one robot bike is built per robot, and every server tic the race
// steps once, robots riding their auto pilots. Their states, timing and ruts
// go to the clients like any rider's. Robots collide with each other and
// with the ground, not with the clients' riders, whom the server does not
// simulate (each client does collide with the robots it sees).
//
// The simulation is process-wide (one slot table, one physics world), so one
// server per process simulates robots. The game data also gives the server
// the hashes and lap lengths of its tracks.
#pragma once
#include "net/server.h"

// Opens the game data (the archive beside the executable, or QX_HOME); user
// files (robot lines, results) go under `home`, or the user's home when it is
// empty. Returns 0 (after a line on standard error) when there is none.
int server_open_data(const char *home);
int server_data_open();

// Tracks without a hash get it, and their lap lengths, by loading them from
// the game data; tracks that do not load are reported.
void server_data_track_info(ServerConfig *config, void (*warn)(const char *line));

// At the start of each race (after the clients' gate positions): the
// robots take the highest free slots and the gate positions after the
// riders', and the simulated race is reset on the race's track. No robots
// without the data, or when the track does not load.
void server_robots_begin(RaceServer *server);
// Steps the simulated race toward the server's tic (a bounded number of tics
// per call) and relays the timing gates the robots passed.
void server_robots_step(RaceServer *server);
// A robot's current state as a states record (stamped with the simulated tic).
void server_robot_state(const RaceServer *server, const ServerRobot *robot, StateRecord *out);
// A rider's deformation packet: the simulated ground wears the same way.
void server_robots_erode(const uint8_t *packet, int length);
// Frees the robots' bikes (server stop).
void server_robots_stop(RaceServer *server);
