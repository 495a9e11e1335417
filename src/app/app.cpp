#include "app/app.h"

#include <cstdio>

int app_main(int, char **) {
  fprintf(stderr, "Torvane is not built yet\n");
  return 0;
}
