// Private to the file layer: what the scanf reader needs from DataFile.
#pragma once
#include "assets/file.h"

// Puts back the byte just taken by dfile_getc (the one pushback slot must
// be empty, which it always is right after a dfile_getc). -1 is ignored.
void dfile_unget(DataFile *file, int c);
