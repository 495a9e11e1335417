// Files riders send to the race server (the console's "sendfile"). Off
// unless the configuration names a folder (accept_files). A transfer is
// written to a temporary file in that folder and renamed to the name the
// rider gives once "namefile" arrives. Refused, each with "senddenied" and a
// line in the log: any transfer while off; a second one while one is open
// (the open one is dropped too, so the rider can start again); more than
// max_files files per connection; a file over max_file_size bytes; a name
// that breaks the client's own rule; a name that exists already (nothing
// in the folder is ever replaced); a failed write.
#pragma once
#include <cstdint>

#include "net/server.h"

// At start: makes the folder when it is missing; a folder that cannot be
// used switches the transfers off (with a line in the log).
void server_files_start(RaceServer *server);
// A kind 24 text from a rider; returns 1 when it belonged to a file
// transfer ("sendfile", "sendpart ...", "namefile ...").
int server_files_text(RaceServer *server, ServerClient *client, const uint8_t *text, int length);
// The rider left or the server stops: an open transfer's file is removed.
void server_files_drop(ServerClient *client);
