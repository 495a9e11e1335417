// Placeholder data builder: writes a minimal main archive.
#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  const char *out = "torvane.saf";
  for (int i = 1; i + 1 < argc; i++)
    if (strcmp(argv[i], "--out") == 0) out = argv[i + 1];
  FILE *f = fopen(out, "wb");
  if (!f) {
    fprintf(stderr, "Can't write %s\n", out);
    return 1;
  }
  const char desc[] = "Rabbit Hill\n";
  fprintf(f, "%zu tracks/rabbithill/desc\n0 tracks/rabbithill/terrain.hf\n-\n", strlen(desc));
  fputs(desc, f);
  fclose(f);
  return 0;
}
