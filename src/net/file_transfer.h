// Sending a file to the race server: the console's "sendfile NAME" uploads
// "@outgoing/NAME" over the reliable channel, one file at a time.
//
// The exchange, as kind 24 texts: the client sends "sendfile"; the server
// answers "sendready" or "senddenied"; once ready, the client sends the file
// in parts of at most 256 bytes, one every quarter second, each
// "sendpart -" followed by the raw bytes; then "namefile " and the name.
// The server writes the parts to a temporary file and gives it the name
// only when "namefile" arrives.
#pragma once
#include "net/protocol.h"

constexpr int file_part_bytes = 256;
constexpr double file_part_interval = 0.25;
constexpr int file_closing_size = 1024;
// "namefile " + the name must arrive whole in one reliable text.
constexpr int file_name_max = reliable_text_max - 9;

// Why a name cannot be sent (the player's message), or null when it can:
// only letters, digits, "_" and "." and not "." or "..", and short enough
// for the closing text. The server applies the same rule.
const char *file_name_problem(const char *name);

// The console line ("sendfile NAME", leading blanks allowed).
void file_send_start(const char *line);
// Each client run while connected; `now` is the program clock in seconds.
void file_send_step(double now);
// The server's answer: 1 "sendready", 0 "senddenied" (the client has printed
// "Send file denied"; the transfer stops).
void file_send_reply(int allowed);
// The connection ended: an open transfer is dropped.
void file_send_cancel();
int file_send_active();  // a file is open for sending
