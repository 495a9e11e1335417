// The log file configuration, HOVL_OPTIONS, aliases and the message ring.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/log.h"
#include "test_util.h"

namespace {

class LogTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = make_temp_dir("log");
    unsetenv("HOVL_LOGFILE");
    unsetenv("HOVL_LOGFILE_FLAGS");
    unsetenv("HOVL_OPTIONS");
    hovl_reset_for_tests();
  }
  void TearDown() override {
    hovl_log(nullptr);
    hovl_reset_for_tests();
    unsetenv("HOVL_LOGFILE");
    unsetenv("HOVL_LOGFILE_FLAGS");
    unsetenv("HOVL_OPTIONS");
  }
  std::string dir;
};

int count_of(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

}  // namespace

TEST_F(LogTest, ConfigurationCallOpensAndTruncates) {
  std::string path = dir + "/lastlog.txt";
  write_text_file(path, "old contents\n");
  std::string config = "HOVL_LOGFILE=" + path;
  hovl_log(config.c_str());  // not logged itself
  hovl_log("hello %d\n", 42);
  std::string text = read_text_file(path);  // flushed at once
  EXPECT_EQ(text.find("old contents"), std::string::npos);
  EXPECT_NE(text.find("] Logfile \"" + path + "\" opened\n"), std::string::npos);
  EXPECT_NE(text.find("] HOVL 0.31\n"), std::string::npos);
  EXPECT_NE(text.find("] hello 42\n"), std::string::npos);
  EXPECT_EQ(text.find("HOVL_LOGFILE="), std::string::npos);
  // Every entry starts with the uptime stamp "[h:mm:ss.hh] ".
  EXPECT_EQ(text[0], '[');
  unsigned h, m, s, c;
  EXPECT_EQ(sscanf(text.c_str(), "[%u:%2u:%2u.%2u] ", &h, &m, &s, &c), 4);
  hovl_log("\x13hidden\n");
  hovl_log(nullptr);
  hovl_log("after close\n");
  text = read_text_file(path);
  EXPECT_EQ(text.find("hidden"), std::string::npos);
  EXPECT_EQ(text.find("after close"), std::string::npos);
}

TEST_F(LogTest, EnvironmentNamesTheFileAndItsMode) {
  std::string path = dir + "/x.log";
  write_text_file(path, "kept\n");
  setenv("HOVL_LOGFILE", (">>" + path).c_str(), 1);
  hovl_log("HOVL_LOGFILE=/nonexistent/ignored.txt");
  hovl_log("appended\n");
  hovl_log(nullptr);
  std::string text = read_text_file(path);
  EXPECT_EQ(text.rfind("kept\n", 0), 0u);
  EXPECT_NE(text.find("appended"), std::string::npos);

  // The flags win over a ">" prefix.
  hovl_reset_for_tests();
  setenv("HOVL_LOGFILE", (">" + path).c_str(), 1);
  setenv("HOVL_LOGFILE_FLAGS", "a", 1);
  hovl_log("second\n");  // an ordinary first call also configures the log
  hovl_log(nullptr);
  text = read_text_file(path);
  EXPECT_EQ(text.rfind("kept\n", 0), 0u);
  EXPECT_NE(text.find("second"), std::string::npos);
}

TEST_F(LogTest, OptionQueries) {
  std::string path = dir + "/opt.log";
  hovl_log(("HOVL_LOGFILE=" + path).c_str());
  setenv("HOVL_OPTIONS", "[threaded:yes][fullscreen:on]junk[dsnd:off][waveout:YES][sound-rate:44100[sound-channels:x]",
         1);
  EXPECT_EQ(hovl_option_bool("threaded", 0), 1);
  EXPECT_EQ(hovl_option_bool("fullscreen", 0), 1);
  EXPECT_EQ(hovl_option_bool("dsnd", 1), 0);
  EXPECT_EQ(hovl_option_bool("waveout", 1), 1);  // unrecognised: default
  EXPECT_EQ(hovl_option_bool("dinput", 1), 1);   // absent: default
  EXPECT_EQ(hovl_option_int("sound-rate", 22050), 44100);  // no closing bracket needed
  EXPECT_EQ(hovl_option_int("sound-channels", 16), 16);
  EXPECT_EQ(hovl_option_int("sound-mixahead", 125), 125);
  hovl_log(nullptr);
  std::string text = read_text_file(path);
  EXPECT_EQ(count_of(text, "unrecognized setting for waveout\n"), 1);
  EXPECT_EQ(count_of(text, "unrecognized setting for sound-channels\n"), 1);
}

TEST_F(LogTest, FirstAliasWins) {
  EXPECT_EQ(hovl_alias("cursor-left", "Mouse Left"), 1);
  EXPECT_EQ(hovl_alias("cursor-left", "Mouse Right"), 0);
  EXPECT_STREQ(hovl_alias_lookup("cursor-left"), "Mouse Left");
  EXPECT_STREQ(hovl_alias_lookup("Cursor-Left"), "Cursor-Left");  // case-sensitive
  const char *name = "unaliased";
  EXPECT_EQ(hovl_alias_lookup(name), name);
}

TEST_F(LogTest, MessageRing) {
  message_clear();
  message_set_limit(5);
  message_set_clock(10.0);
  std::string path = dir + "/msg.log";
  hovl_log(("HOVL_LOGFILE=" + path).c_str());
  std::string long_text(300, 'x');
  print_message(long_text.c_str());
  print_message("\033[31mred");
  hovl_log(nullptr);
  std::string text = read_text_file(path);
  EXPECT_NE(text.find(long_text + "\n"), std::string::npos);  // logged whole
  EXPECT_NE(text.find("\033[31mred\033[0m\n"), std::string::npos);
  EXPECT_EQ(std::string(message_line(1)), std::string(255, 'x'));  // kept as 255 characters
  EXPECT_STREQ(message_line(0), "\033[31mred");

  for (int i = 2; i < 1001; i++) print_message(std::to_string(i).c_str());
  // 1001 messages: the newest overwrote the ring's first line.
  EXPECT_STREQ(message_line(0), "1000");
  EXPECT_STREQ(message_line(999), "\033[31mred");
  EXPECT_EQ(message_visible_count(), 5);

  // Two seconds after the last message one line goes, then one every five.
  message_expire(11.9);
  EXPECT_EQ(message_visible_count(), 5);
  message_expire(12.1);
  EXPECT_EQ(message_visible_count(), 4);
  message_expire(16.0);
  EXPECT_EQ(message_visible_count(), 4);
  message_expire(17.2);
  EXPECT_EQ(message_visible_count(), 3);
}
