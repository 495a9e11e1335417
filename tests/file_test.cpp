// The file layer: search order, the index over files and archives, gzip
// variants, backups, the DataFile readers and the scanf reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/alloc.h"
#include "assets/file.h"
#include "platform/log.h"
#include "test_util.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

std::string saf(const Members &members) {
  std::string header, data;
  for (const auto &m : members) {
    header += std::to_string(m.second.size()) + " " + m.first + "\n";
    data += m.second;
  }
  return header + "-\n" + data;
}

// gzip data written by zlib's own gzip writer, optionally with a header
// that carries a name, a comment, an extra field and a header checksum.
std::string gzip(const std::string &text, bool full_header = false) {
  z_stream z = {};
  deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  gz_header header = {};
  char name[] = "original.txt", comment[] = "a comment";
  unsigned char extra[] = {1, 2, 3, 4, 5};
  if (full_header) {
    header.name = reinterpret_cast<Bytef *>(name);
    header.comment = reinterpret_cast<Bytef *>(comment);
    header.extra = extra;
    header.extra_len = sizeof extra;
    header.hcrc = 1;
    deflateSetHeader(&z, &header);
  }
  std::string out(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef *>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Text that compresses poorly enough to span several 16 KiB blocks.
std::string varied_text(size_t size) {
  std::string text;
  uint32_t x = 12345;
  while (text.size() < size) {
    x = x * 1103515245u + 12345u;
    text += std::to_string(x >> 8) + ((x & 15) == 0 ? "\n" : " ");
  }
  text.resize(size);
  return text;
}

std::string read_all(DataFile *file) {
  std::string out;
  char block[777];
  int n;
  while ((n = dfile_read(file, block, sizeof block)) > 0) out.append(block, n);
  return out;
}

// Reads a data path whole; "<none>" when it does not open.
std::string slurp(const char *path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) return "<none>";
  std::string out = read_all(file);
  dfile_close(file);
  return out;
}

bool list_has(const char *name) {
  for (const char *const *n = file_list(); *n; n++)
    if (strcmp(*n, name) == 0) return true;
  return false;
}

class FileLayer : public ::testing::Test {
 protected:
  std::string root, home, qx, log_path;

  void SetUp() override {
    root = make_temp_dir("file");
    home = root + "/xdg/torvane/";
    qx = root + "/qx/";
    mkdir((root + "/qx").c_str(), 0777);
    setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
    setenv("QX_HOME", qx.c_str(), 1);
    log_path = root + "/test.log";
    setenv("HOVL_LOGFILE", log_path.c_str(), 1);
    hovl_reset_for_tests();
    file_layer_reset_for_tests();
  }
  void TearDown() override {
    file_layer_reset_for_tests();
    hovl_reset_for_tests();
    unsetenv("HOVL_LOGFILE");
    std::string command = "rm -rf '" + root + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
  std::string log_text() { return read_text_file(log_path); }
};

TEST_F(FileLayer, BaseDirectoriesAndSearchOrder) {
  EXPECT_EQ(data_directory(0), home);
  EXPECT_EQ(data_directory(1), qx);
  EXPECT_EQ(data_directory(2), nullptr);
  EXPECT_EQ(data_directory(-1), nullptr);

  write_text_file(home + "settings.txt", "home copy");
  write_text_file(qx + "settings.txt", "qx copy");
  write_text_file(qx + "only_qx.txt", "qx only");
  EXPECT_EQ(slurp("@settings.txt"), "home copy");
  EXPECT_EQ(slurp("@only_qx.txt"), "qx only");
  EXPECT_EQ(slurp("@missing.txt"), "<none>");
  EXPECT_EQ(slurp((qx + "settings.txt").c_str()), "qx copy");  // plain path, no search
  // A directory is not a file, even though Linux would open it.
  mkdir((home + "adir").c_str(), 0777);
  EXPECT_EQ(slurp("@adir"), "<none>");

  // Writes land in the home directory, creating what is missing.
  DataFile *out = dfile_open("@deep/er/new.txt", "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(dfile_puts(out, "new"), 1);
  dfile_close(out);
  EXPECT_EQ(read_text_file(home + "deep/er/new.txt"), "new");

  // A data path cannot climb out of the base directories.
  write_text_file(root + "/secret.txt", "secret");
  EXPECT_EQ(dfile_open("@../../secret.txt", "rb"), nullptr);
  EXPECT_EQ(dfile_open("@x/../../../secret.txt", "wb"), nullptr);
}

TEST_F(FileLayer, BaseDirectoriesFromTheEnvironment) {
  setenv("QX_HOME", (root + "//qx2\\\\sub///").c_str(), 1);
  file_layer_reset_for_tests();
  EXPECT_EQ(data_directory(1), root + "/qx2/sub/");

  // Without QX_HOME the program's own directory is the second base.
  unsetenv("QX_HOME");
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", (root + "/h").c_str(), 1);
  file_layer_reset_for_tests();
  EXPECT_EQ(data_directory(0), root + "/h/.local/share/torvane/");
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  *strrchr(exe, '/') = 0;
  EXPECT_EQ(data_directory(1), std::string(exe) + "/");
  EXPECT_EQ(data_directory(2), nullptr);
}

TEST_F(FileLayer, IndexArchivesAndPriorities) {
  write_text_file(qx + "data.saf", saf({{"tracks/x/terrain.hf", "from archive"},
                                         {"tracks/x/tileinfo", "tiles in archive"},
                                         {"shared.txt", "from data.saf"}}));
  write_text_file(qx + "zzz.saf", saf({{"shared.txt", "from zzz.saf"}, {"only_zzz.txt", "zzz"}}));
  write_text_file(qx + "tracks/x/tileinfo", "loose tiles");
  // Before the index exists, archive members are not found.
  EXPECT_EQ(slurp("@tracks/x/terrain.hf"), "<none>");
  static int ticks;
  ticks = 0;
  file_set_progress_tick([] { ticks++; });
  file_list();
  file_set_progress_tick(nullptr);
  EXPECT_EQ(ticks, 3 + 2);  // qx/, qx/tracks/, qx/tracks/x/ and two archives
  EXPECT_EQ(slurp("@Tracks/X/Terrain.HF"), "from archive");
  EXPECT_EQ(slurp("@tracks/x/tileinfo"), "loose tiles");  // a loose file beats a member
  EXPECT_EQ(slurp("@SHARED.TXT"), "from data.saf");      // the archive sorting first wins
  EXPECT_EQ(slurp("@only_zzz.txt"), "zzz");

  // The list holds each name once, sorted case-insensitively.
  std::vector<std::string> names;
  for (const char *const *n = file_list(); *n; n++) names.push_back(*n);
  std::vector<std::string> expected = {"data.saf", "only_zzz.txt", "shared.txt", "tracks/x/terrain.hf",
                                       "tracks/x/tileinfo", "zzz.saf"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(file_list(), file_list());

  char line[512];
  std::vector<std::string> described;
  for (int i = 0; file_index_describe(i, line, sizeof line); i++) described.push_back(line);
  ASSERT_EQ(described.size(), 8u);
  EXPECT_EQ(described[2], "shared.txt -> " + qx + "data.saf");
  EXPECT_EQ(described[3], "shared.txt -> " + qx + "zzz.saf");
  EXPECT_EQ(file_index_describe(8, line, sizeof line), 0);

  std::string log = log_text();
  size_t a = log.find("Listing directories\n"), b = log.find("Listing archives\n");
  size_t c = log.find("Creating file list\n"), d = log.find("File index complete\n");
  EXPECT_TRUE(a < b && b < c && c < d && d != std::string::npos) << log;

  // Files created after the index still open through the base directories.
  write_text_file(home + "later.txt", "later");
  EXPECT_EQ(slurp("@later.txt"), "later");
  EXPECT_FALSE(list_has("later.txt"));
}

TEST_F(FileLayer, WorkedHeaderOffsets) {
  std::string archive = "5 a.txt\n3 b/c.txt\n-\nhelloxyzTRAILING";
  ASSERT_EQ(archive.find("hello"), 20u);
  write_text_file(qx + "w.saf", archive);
  write_text_file(qx + "slashes.saf", "2 d//e///f.txt\n-\nde");
  file_list();
  EXPECT_EQ(slurp("@a.txt"), "hello");
  EXPECT_EQ(slurp("@b/c.txt"), "xyz");  // never past its size
  EXPECT_EQ(slurp("@d/e/f.txt"), "de");  // runs of slashes collapsed

  DataFile *file = dfile_open("@b/c.txt", "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(dfile_getc(file), 'x');
  EXPECT_EQ(dfile_peekc(file), 'y');
  EXPECT_EQ(dfile_tell(file), 1);
  EXPECT_EQ(dfile_seek(file, 2), 1);
  EXPECT_EQ(dfile_getc(file), 'z');
  EXPECT_EQ(dfile_getc(file), -1);
  EXPECT_EQ(dfile_seek(file, 3), 0);  // at the member's size: refused
  EXPECT_EQ(dfile_seek(file, -1), 0);
  EXPECT_EQ(dfile_seek(file, 0), 1);
  char buffer[16];
  EXPECT_EQ(dfile_read(file, buffer, sizeof buffer), 3);
  EXPECT_EQ(dfile_gets(file, buffer, sizeof buffer), nullptr);
  // Writing to a file opened for reading does nothing.
  EXPECT_EQ(dfile_putc(file, 'q'), EOF);
  EXPECT_EQ(dfile_write(file, "q", 1), 0);
  EXPECT_LT(dfile_printf(file, "%d", 1), 0);
  dfile_close(file);
}

TEST_F(FileLayer, BrokenArchivesAreIgnoredAndLogged) {
  write_text_file(qx + "good.saf", saf({{"good.txt", "good"}}));
  write_text_file(qx + "no_end.saf", "4 lost.txt\n");                      // no "-" line
  write_text_file(qx + "no_newline.saf", "4 lost2.txt\n-");               // "-" without newline
  write_text_file(qx + "not_number.saf", "4 lost3.txt\nx bad\n-\nlostbad");
  write_text_file(qx + "negative.saf", "-4 neg.txt\n-\n");
  write_text_file(qx + "huge.saf", "99999999999999999999 huge.txt\n-\n");
  write_text_file(qx + "noname.saf", "4\n-\nabcd");
  write_text_file(qx + "long_line.saf", "1 " + std::string(1100, 'n') + "\n-\nx");
  write_text_file(qx + "zero.saf", std::string("3 a\0b\n-\nabc", 11));
  write_text_file(qx + "empty.saf", "");
  // The header is fine but the data were cut short: the members that fit stay.
  write_text_file(qx + "truncated.saf", "2 fits.txt\n100 cut.txt\n1 after.txt\n-\nokpartial");
  file_list();
  EXPECT_EQ(slurp("@good.txt"), "good");
  EXPECT_EQ(slurp("@fits.txt"), "ok");
  for (const char *lost : {"@lost.txt", "@lost2.txt", "@lost3.txt", "@neg.txt", "@huge.txt", "@cut.txt",
                           "@after.txt", "@a"})
    EXPECT_EQ(slurp(lost), "<none>") << lost;
  // Each archive gets its own number whether or not it opens, so the
  // ordering still holds for the good one.
  EXPECT_TRUE(list_has("good.txt"));
  std::string log = log_text();
  for (const char *archive : {"no_end.saf", "no_newline.saf", "not_number.saf", "negative.saf", "huge.saf",
                              "noname.saf", "long_line.saf", "zero.saf", "empty.saf"})
    EXPECT_NE(log.find("Archive " + qx + archive + ": bad header line, ignored\n"), std::string::npos) << archive;
  EXPECT_NE(log.find("member cut.txt runs past the end"), std::string::npos) << log;
}

TEST_F(FileLayer, CompressedVariants) {
  std::string big = varied_text(200000);
  write_text_file(qx + "a.txt.gz", gzip("loose text"));
  write_text_file(qx + "big.dat.gz", gzip(big));
  write_text_file(qx + "headers.txt.gz", gzip("full header", true));
  write_text_file(qx + "bad.txt.gz", "\x1f\x8c\x08 not gzip at all");
  write_text_file(qx + "bad.txt", "");  // unrelated: proves "bad.txt" itself would open
  write_text_file(qx + "flags.txt.gz", std::string("\x1f\x8b\x08\x20", 4) + std::string(20, '\0'));
  std::string whole = gzip(big);
  write_text_file(qx + "cut.txt.gz", whole.substr(0, whole.size() / 2));
  // A stored block with "hello", then a block of the reserved type 3.
  std::string corrupt = std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + std::string("\0\x05\0\xfa\xff", 5) +
                        "hello" + "\x07";
  write_text_file(qx + "corrupt.txt.gz", corrupt);
  write_text_file(qx + "members.saf",
                  saf({{"m.txt.gz", gzip("member text")}, {"next.txt", "next"}, {"mbig.gz", gzip(big)},
                       {"both.txt", "plain"}, {"both.txt.gz", gzip("compressed")}}));
  write_text_file(qx + "only.txt.gz", gzip("loose gz"));
  write_text_file(qx + "pri.saf", saf({{"only.txt", "archived plain"}}));
  file_list();

  EXPECT_EQ(slurp("@a.txt"), "loose text");
  EXPECT_EQ(slurp((qx + "a.txt").c_str()), "loose text");  // plain paths try ".gz" too
  EXPECT_EQ(slurp("@a.txt.gz"), gzip("loose text"));     // the stored bytes by their own name
  EXPECT_TRUE(slurp("@big.dat") == big);
  EXPECT_EQ(slurp("@headers.txt"), "full header");
  EXPECT_EQ(slurp("@m.txt"), "member text");
  EXPECT_EQ(slurp("@next.txt"), "next");
  EXPECT_TRUE(slurp("@mbig") == big);
  EXPECT_EQ(slurp("@both.txt"), "plain");        // equal priority: the plain name first
  EXPECT_EQ(slurp("@only.txt"), "loose gz");     // a loose .gz beats an archive member
  EXPECT_EQ(dfile_open((qx + "flags.txt").c_str(), "rb"), nullptr);  // flag byte 32
  DataFile *bad = dfile_open("@bad.txt.gz", "rb");  // raw bytes still open by their own name
  ASSERT_NE(bad, nullptr);
  dfile_close(bad);
  write_text_file(qx + "badonly.txt.gz", "\x1f\x8b\x07 method 7");
  EXPECT_EQ(slurp("@badonly.txt"), "<none>");
  EXPECT_NE(log_text().find("badonly.txt.gz: bad gzip header"), std::string::npos);

  // A truncated stream just ends the data; corrupt data ends it with a log line.
  std::string cut = slurp("@cut.txt");
  EXPECT_GT(cut.size(), 1000u);
  EXPECT_LT(cut.size(), big.size());
  EXPECT_TRUE(cut == big.substr(0, cut.size()));
  EXPECT_EQ(slurp("@corrupt.txt"), "hello");
  EXPECT_NE(log_text().find("corrupt.txt.gz: corrupt data, reading stops"), std::string::npos);

  DataFile *file = dfile_open("@m.txt", "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(dfile_is_compressed(file), 1);
  EXPECT_EQ(dfile_is_scrambled(file), 0);
  EXPECT_EQ(dfile_seek(file, 0), 0);
  EXPECT_EQ(dfile_getc(file), 'm');
  EXPECT_EQ(dfile_putc(file, 'x'), EOF);
  dfile_close(file);

  char *text = file_to_string("@mbig");
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(std::string(text) == big);
  tracked_free(text);
}

TEST_F(FileLayer, ScrambledVariantsAreAbsent) {
  write_text_file(qx + "s.txt.scram", "whatever");
  write_text_file(qx + "s.saf", saf({{"t.txt.gz.scram", "whatever"}}));
  file_list();
  EXPECT_EQ(slurp("@s.txt"), "<none>");
  EXPECT_EQ(slurp("@t.txt"), "<none>");
  EXPECT_NE(log_text().find("2 scrambled files are not supported"), std::string::npos);
}

TEST_F(FileLayer, NumberedBackups) {
  std::string x = root + "/b/x.txt";
  write_text_file(x, "old");
  write_text_file(x + ".~1~", "one");
  write_text_file(x + ".~2~", "two");
  DataFile *file = dfile_open(x.c_str(), "~wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(read_text_file(x + ".~3~"), "old");
  EXPECT_EQ(read_text_file(x), "");
  EXPECT_EQ(dfile_printf(file, "%s %d", "new", 7), 5);
  dfile_close(file);
  EXPECT_EQ(read_text_file(x), "new 7");
  EXPECT_EQ(read_text_file(x + ".~2~"), "two");
  EXPECT_FALSE(file_exists(x + ".~4~"));

  // No old file, no backup; backups work through data paths too.
  file = dfile_open("@fresh.txt", "~wb");
  ASSERT_NE(file, nullptr);
  dfile_close(file);
  EXPECT_FALSE(file_exists(home + "fresh.txt.~1~"));
  file = dfile_open("@fresh.txt", "~wb");
  ASSERT_NE(file, nullptr);
  dfile_close(file);
  EXPECT_TRUE(file_exists(home + "fresh.txt.~1~"));
  EXPECT_EQ(dfile_open((std::string(1001, 'p')).c_str(), "~wb"), nullptr);  // too long for backups
}

TEST_F(FileLayer, FileToStringLimit) {
  const size_t limit = 16u * 1024 * 1024;
  std::string path = root + "/big.bin";
  write_text_file(path, std::string(limit, 'a'));
  EXPECT_EQ(file_to_string(path.c_str()), nullptr);
  EXPECT_NE(log_text().find("File " + path + " too long for file_to_string\n"), std::string::npos);
  truncate(path.c_str(), static_cast<off_t>(limit - 1));
  char *text = file_to_string(path.c_str());
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(strlen(text), limit - 1);
  tracked_free(text);
  EXPECT_EQ(file_to_string((root + "/missing").c_str()), nullptr);
  write_text_file(home + "small.txt", std::string("a\0b", 3));
  text = file_to_string("@small.txt");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(memcmp(text, "a\0b\0", 4), 0);
  tracked_free(text);
}

TEST_F(FileLayer, LineAndNumberReaders) {
  write_text_file(home + "t.txt", "# comment\n#\n   # another\n\n 42 -7 x\nline two\nlast");
  DataFile *file = dfile_open("@t.txt", "rb");
  ASSERT_NE(file, nullptr);
  dfile_skip_comments(file);
  EXPECT_EQ(dfile_read_int(file), 42);
  EXPECT_EQ(dfile_read_int(file), -7);
  EXPECT_EQ(dfile_read_int(file), INT_MIN);
  char buffer[6];
  EXPECT_STREQ(dfile_gets(file, buffer, sizeof buffer), "x\n");
  EXPECT_STREQ(dfile_gets(file, buffer, sizeof buffer), "line ");
  EXPECT_STREQ(dfile_gets(file, buffer, sizeof buffer), "two\n");
  EXPECT_STREQ(dfile_gets(file, buffer, sizeof buffer), "last");
  EXPECT_EQ(dfile_gets(file, buffer, sizeof buffer), nullptr);
  EXPECT_EQ(dfile_getc(file), -1);
  EXPECT_EQ(dfile_peekc(file), -1);
  dfile_close(file);

  // A plain file seeks anywhere and drops the pushed-back byte.
  file = dfile_open((home + "t.txt").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(dfile_peekc(file), '#');
  EXPECT_EQ(dfile_seek(file, 2), 1);
  EXPECT_EQ(dfile_getc(file), 'c');
  EXPECT_EQ(dfile_tell(file), 3);
  dfile_close(file);
}

TEST_F(FileLayer, RenameAndSafeReplace) {
  write_text_file(home + "a.txt", "A");
  write_text_file(home + "b.txt", "B");
  EXPECT_EQ(dfile_rename("@a.txt", "@b.txt"), 1);
  EXPECT_EQ(read_text_file(home + "b.txt"), "A");
  EXPECT_FALSE(file_exists(home + "a.txt"));
  EXPECT_EQ(dfile_rename("@a.txt", "@b.txt"), 0);
  EXPECT_EQ(read_text_file(home + "b.txt"), "A");  // a failed rename keeps the target

  write_text_file(home + "config", "old config");
  DataFile *file = dfile_open_replace("@config");
  ASSERT_NE(file, nullptr);
  dfile_puts(file, "new config");
  EXPECT_EQ(read_text_file(home + "config"), "old config");
  EXPECT_EQ(dfile_commit_replace(file), 1);
  EXPECT_EQ(read_text_file(home + "config"), "new config");
  EXPECT_FALSE(file_exists(home + "config.tmp"));

  file = dfile_open_replace("@config");
  ASSERT_NE(file, nullptr);
  dfile_puts(file, "abandoned");
  dfile_close(file);
  EXPECT_EQ(read_text_file(home + "config"), "new config");
  EXPECT_FALSE(file_exists(home + "config.tmp"));

  std::string plain = root + "/sub/dir/plain.txt";
  file = dfile_open_replace(plain.c_str());
  ASSERT_NE(file, nullptr);
  dfile_write(file, "xyz", 3);
  EXPECT_EQ(dfile_commit_replace(file), 1);
  EXPECT_EQ(read_text_file(plain), "xyz");

  // The rename fails when the target is a non-empty directory: the old one stays.
  mkdir((home + "dirtarget").c_str(), 0777);
  write_text_file(home + "dirtarget/inside", "i");
  file = dfile_open_replace("@dirtarget");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(dfile_commit_replace(file), 0);
  EXPECT_FALSE(file_exists(home + "dirtarget.tmp"));
  EXPECT_EQ(read_text_file(home + "dirtarget/inside"), "i");
}

TEST_F(FileLayer, HomePrepareOpensTheLog) {
  // A '%' in the home path must reach the log configuration unchanged.
  std::string xdg = root + "/per%sdir";
  setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  unsetenv("HOVL_LOGFILE");
  hovl_reset_for_tests();
  file_layer_reset_for_tests();
  home_prepare();
  hovl_log("after prepare\n");
  std::string log = read_text_file(xdg + "/torvane/lastlog.txt");
  EXPECT_NE(log.find("Logfile \"" + xdg + "/torvane/lastlog.txt\" opened"), std::string::npos) << log;
  EXPECT_NE(log.find("after prepare"), std::string::npos);
  hovl_reset_for_tests();
}

TEST_F(FileLayer, HomeShowRunsXdgOpen) {
  // A stand-in xdg-open records its arguments.
  std::string bin = root + "/bin";
  write_text_file(bin + "/xdg-open", "#!/bin/sh\necho \"$#:$1\" > '" + root + "/opened'\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (bin + ":" + path).c_str(), 1);
  EXPECT_EQ(home_show(), 1);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(read_text_file(root + "/opened"), "1:" + root + "/xdg/torvane\n");
  struct stat st;
  EXPECT_EQ(stat(home.c_str(), &st), 0);
}

TEST_F(FileLayer, DirectoryLoopsEndTheWalk) {
  write_text_file(qx + "d/file.txt", "f");
  ASSERT_EQ(symlink("..", (qx + "d/up").c_str()), 0);
  ASSERT_EQ(symlink(".", (qx + "d/self").c_str()), 0);
  file_list();
  EXPECT_TRUE(list_has("d/file.txt"));
  EXPECT_FALSE(list_has("d/up/d/file.txt"));
  EXPECT_EQ(slurp("@d/file.txt"), "f");
}

// ---- scanf ------------------------------------------------------------------

struct Outputs {
  alignas(16) unsigned char slot[8][96];
};

// Writes a scanf input once; truncating one file over and over is slow on
// some file systems.
std::string scan_file(const std::string &dir, int number, const std::string &text) {
  std::string path = dir + "/scan" + std::to_string(number) + ".txt";
  FILE *out = fopen(path.c_str(), "wb");
  if (!out) return path;
  fwrite(text.data(), 1, text.size(), out);
  fclose(out);
  return path;
}

// Runs format twice on the text through fscanf and through dfile_scanf,
// then compares results, every stored byte and what is left unread.
void compare_scanf(const std::string &path, const std::string &text, const char *format) {
  FILE *c_file = fopen(path.c_str(), "rb");
  DataFile *d_file = dfile_open(path.c_str(), "rb");
  ASSERT_TRUE(c_file && d_file);
  Outputs c_out, d_out;
  memset(&c_out, 0xa5, sizeof c_out);
  memset(&d_out, 0xa5, sizeof d_out);
  for (int round = 0; round < 2; round++) {
    unsigned char(*c)[96] = c_out.slot;
    unsigned char(*d)[96] = d_out.slot;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
    int c_result = fscanf(c_file, format, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    int d_result = dfile_scanf(d_file, format, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
#pragma GCC diagnostic pop
    ASSERT_EQ(d_result, c_result) << "format \"" << format << "\" on \"" << text << "\" round " << round;
    ASSERT_EQ(memcmp(&c_out, &d_out, sizeof c_out), 0)
        << "format \"" << format << "\" on \"" << text << "\" round " << round;
  }
  std::string c_rest, d_rest;
  for (int ch; (ch = fgetc(c_file)) != EOF;) c_rest += static_cast<char>(ch);
  for (int ch; (ch = dfile_getc(d_file)) >= 0;) d_rest += static_cast<char>(ch);
  EXPECT_EQ(d_rest, c_rest) << "format \"" << format << "\" on \"" << text << "\"";
  fclose(c_file);
  dfile_close(d_file);
}

const char *const scan_inputs[] = {
    "", " ", "42", "  -17 rest", "+5", "-", "+", "- 5", "0", "00", "0x", "0X1f", "0xg", "0x1F0x2", "017 018",
    "089", "4294967297", "99999999999999999999", "-2147483649", "3.25", "-.5e3x", "1e+", "1e+x", "1e-2", ".",
    "-.", ".e5", "1.2.3", "nan", "NaNx", "-inf", "infinity", "infinit", "infx", "inx", "0x1.8p3", "0x.p", "0xp1",
    "12abc def", "abc", "   abc   def  ", "a,b;c", "key=value\n", "[x] y", "%d 5", "%5", "\t\n 7\n", "#x\n",
    "123456789012", "ff FF 0x10 -0x10", "1,2,3", "-0", "+-1", "e5", "5e", "1e5e5", "0.000001e+300",
    "3.4028236e38", "abc]def", "-]a", "hello world\nnext line", "x\ty"};

const char *const scan_formats[] = {
    "%d", "%d%d", "%d %d", " %d", "%d ", "%i", "%i%i", "%o", "%u", "%x", "%X", "%2d", "%3i", "%1i", "%2x", "%*d%d",
    "%hd", "%hhd", "%ld", "%lld", "%qd", "%hu", "%hhx", "%lx", "%f", "%lf", "%Lf", "%llf", "%e", "%g", "%3f",
    "%2f", "%1f", "%4f", "%*f%f", "%f%c", "%f%n", "%s", "%3s", "%s%s", "%*s%s", "%c", "%3c", "%5c", " %c",
    "%c%c%c", "%[abc]", "%[^,]", "%[^,],%[^;]", "%2[a-z]", "%[]x]", "%[^]]", "%[-a]", "%[a-]", "%[z-a]",
    "%[^\n]", " #%*[^\n]%n", "%n", "%d%n", "%s%n%c", "%hn%d", "%%", "%%d", "%%%d", "abc%d", "a%c", "key=%s",
    "%d,%d,%d", "%d , %d", "x%d", "%5d", "%0d", "%*3d%d", "%[", "%d%", "%y", "%z", "%zd",
    "%jd", "%td", "%a", "%E", "%G", "%F", "%n%d", "%*n%d", "%3[0-9]%d", "%d%[^\n]%n", "%*c%c", "%s %n%s",
    "%[0-9a-fA-F]", "%[^0-9]%d",
};

TEST(DataFileScanf, MatchesTheCLibraryOnFixedCases) {
  std::string dir = make_temp_dir("scanf");
  int number = 0;
  for (const char *text : scan_inputs) {
    std::string path = scan_file(dir, number++, text);
    for (const char *format : scan_formats) compare_scanf(path, text, format);
  }
  EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

TEST(DataFileScanf, MatchesTheCLibraryOnGeneratedCases) {
  std::string dir = make_temp_dir("scanf2");
  const char *pieces[] = {"%d", "%i", "%x", "%o", "%u", "%f", "%lf", "%s", "%c", "%n", "%[a-f0-9]", "%[^ ]",
                          " ", "%*d", "%2d", "%3s", "%4f", "x", ",", "%%", "%2c", "%hhd", "%Lg", "%1s"};
  const char alphabet[] = "0123456789+-.eExXaAfFnNiI ,\t\n%xyz";
  uint32_t seed = 2024;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  for (int i = 0; i < 300; i++) {
    std::string text;
    int length = static_cast<int>(next(16));
    for (int k = 0; k < length; k++) text += alphabet[next(sizeof alphabet - 1)];
    std::string path = scan_file(dir, i, text);
    for (int j = 0; j < 20; j++) {
      std::string format;
      int parts = 1 + static_cast<int>(next(5));
      for (int p = 0; p < parts; p++) format += pieces[next(sizeof pieces / sizeof pieces[0])];
      compare_scanf(path, text, format.c_str());
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

TEST(DataFileScanf, WorksAcrossMembersAndCompressedData) {
  std::string dir = make_temp_dir("scanf3");
  setenv("QX_HOME", dir.c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "/none").c_str(), 1);
  file_layer_reset_for_tests();
  write_text_file(dir + "/n.saf", saf({{"nums.txt", "1 2.5 word"}, {"after", "99"}}));
  write_text_file(dir + "/g.txt.gz", gzip("10 20 30"));
  file_list();
  DataFile *file = dfile_open("@nums.txt", "rb");
  ASSERT_NE(file, nullptr);
  int a = 0, n = 0;
  float f = 0;
  char word[16];
  EXPECT_EQ(dfile_scanf(file, "%d %f %s%n", &a, &f, word, &n), 3);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(f, 2.5f);
  EXPECT_STREQ(word, "word");
  EXPECT_EQ(n, 10);
  EXPECT_EQ(dfile_scanf(file, "%d", &a), -1);  // the member ends; the next one is not read
  dfile_close(file);
  file = dfile_open("@g.txt", "rb");
  ASSERT_NE(file, nullptr);
  int x = 0, y = 0, z = 0;
  EXPECT_EQ(dfile_scanf(file, "%d%d%d", &x, &y, &z), 3);
  EXPECT_EQ(x + y + z, 60);
  dfile_close(file);
  file_layer_reset_for_tests();
  EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
