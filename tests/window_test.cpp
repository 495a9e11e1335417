// The window on a real X server: GL frames, hidden and minimised windows,
// the close request, mode changes, and keys and clicks sent with xdotool
// arriving as time-stamped events. Without a DISPLAY the tests start their
// own Xvfb; without Xvfb they skip. The full-screen mode rule needs no display.
#include <gtest/gtest.h>
// The X headers define macros (None, Bool, Status) that gtest must not see.
#include <SDL.h>
// X11 calls its window handle "Window" too; rename it while its headers are read.
#define Window XWindow
#include <SDL_syswm.h>
#undef Window
#include <GL/gl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/input.h"
#include "platform/log.h"
#include "platform/window.h"
#include "test_util.h"

// SDL's desktop bus connection keeps a buffer until the process ends.
extern "C" const char *__lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

const char *const title = "Torvane window test";

TEST(FullscreenMode, SmallestModeThatHoldsTheSize) {
  const DisplayMode list[] = {{800, 600, 32}, {1024, 768, 32}, {1280, 1024, 32}, {0, 0, 0}};
  const DisplayMode desktop = {1920, 1080, 32};
  DisplayMode m = choose_fullscreen_mode(list, desktop, 800, 600);
  EXPECT_EQ(m.width, 800);
  EXPECT_EQ(m.height, 600);
  m = choose_fullscreen_mode(list, desktop, 900, 700);
  EXPECT_EQ(m.width, 1024);
  EXPECT_EQ(m.height, 768);
  m = choose_fullscreen_mode(list, desktop, 1024, 769);
  EXPECT_EQ(m.width, 1280);
  m = choose_fullscreen_mode(list, desktop, 1300, 600);
  EXPECT_EQ(m.width, 1920) << "nothing wide enough: the desktop";
  m = choose_fullscreen_mode(list, desktop, 0, 600);
  EXPECT_EQ(m.width, 1920);
  // Equal excess: the first listed.
  const DisplayMode tie[] = {{1000, 800, 32}, {1100, 700, 32}, {0, 0, 0}};
  m = choose_fullscreen_mode(tie, desktop, 900, 600);
  EXPECT_EQ(m.width, 1000);
}

// Runs a command with the test's display; true when it exits with 0 within
// ten seconds.
bool run(const std::string &command) {
  return system(("timeout 10 " + command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string output_of(const std::string &command) {
  std::string text;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return text;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
  pclose(pipe);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Pumps for a tenth of a second and forgets what arrived.
void settle() {
  for (int i = 0; i < 20; i++) {
    InputEvent e;
    while (input_next_event(&e)) {
    }
    SDL_Delay(5);
  }
  input_clear_events();
}

// Gathers events until `count` have arrived or the time is up.
std::vector<InputEvent> collect(size_t count, double seconds = 3.0) {
  std::vector<InputEvent> events;
  HovlTime give_up = time_from_seconds(time_seconds(time_now()) + seconds);
  while (events.size() < count && time_compare(time_now(), give_up) < 0) {
    InputEvent e;
    while (input_next_event(&e)) events.push_back(e);
    SDL_Delay(5);
  }
  return events;
}

class WindowTest : public ::testing::Test {
 protected:
  static pid_t xvfb;
  static int xvfb_pipe;
  static bool have_display;
  Window *window = nullptr;
  std::string x_id;

  static void SetUpTestSuite() {
    const char *display = getenv("DISPLAY");
    have_display = display && display[0];
    if (have_display) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    xvfb = fork();
    if (xvfb == 0) {
      close(fds[0]);
      char fd[16];
      snprintf(fd, sizeof fd, "%d", fds[1]);
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0 && !getenv("TORVANE_XVFB_LOG")) dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", fd, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset", (char *)nullptr);
      _exit(127);
    }
    close(fds[1]);
    // The server writes its display number when it is ready; the pipe stays
    // open while it runs, since it treats a failed write as fatal.
    xvfb_pipe = fds[0];
    std::string number;
    char c;
    while (xvfb > 0 && read(xvfb_pipe, &c, 1) == 1 && c != '\n') number += c;
    if (number.empty()) return;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    have_display = true;
  }

  static void TearDownTestSuite() {
    if (xvfb > 0) {
      kill(xvfb, SIGTERM);
      waitpid(xvfb, nullptr, 0);
      xvfb = 0;
      close(xvfb_pipe);
      unsetenv("DISPLAY");
    }
  }

  void SetUp() override {
    if (!have_display) GTEST_SKIP() << "no X display and no Xvfb";
    hovl_reset_for_tests();
    input_clear_events();
    window = window_open_gl(title, 320, 240, 32, 8, 24, 8, 0);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    // SDL falls back on an off-screen driver; these tests are about X.
    ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    // Let the window map and settle before anything is sent to it.
    settle();
  }

  void TearDown() override {
    if (window) window_close(window);
    input_clear_events();
    hovl_reset_for_tests();
  }

  // The X id of our window, focused and under the pointer.
  bool focus() {
    // The window may take a moment to be mapped and named.
    for (int attempt = 0; attempt < 20 && x_id.empty(); attempt++) {
      x_id = output_of(std::string("timeout 10 xdotool search --name '^") + title + "$' 2>/dev/null | head -1");
      if (x_id.empty()) SDL_Delay(50);
    }
    if (x_id.empty()) return false;
    return run("xdotool windowfocus --sync " + x_id);
  }
};

pid_t WindowTest::xvfb = 0;
int WindowTest::xvfb_pipe = -1;
bool WindowTest::have_display = false;

TEST_F(WindowTest, FramesHaveTheDrawableSize) {
  Viewport v = {};
  ASSERT_TRUE(window_frame_begin(window, &v));
  EXPECT_EQ(v.x, 0);
  EXPECT_EQ(v.y, 0);
  EXPECT_EQ(v.width, 320);
  EXPECT_EQ(v.height, 240);
  glViewport(v.x, v.y, v.width, v.height);
  glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  unsigned char pixel[4] = {};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_NEAR(pixel[2], 191, 2) << "the GL context draws into this window";
  window_frame_end(window);

  const DisplayMode *modes = display_modes();
  ASSERT_GT(modes[0].width, 0);
  SDL_DisplayMode desktop;
  ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
  EXPECT_EQ(modes[0].width, desktop.w) << "the desktop mode first";
  EXPECT_EQ(modes[0].height, desktop.h);
  int count = 0;
  for (const DisplayMode *m = modes; m->width; m++, count++) {
    EXPECT_TRUE(m->bits == 8 || m->bits == 15 || m->bits == 16 || m->bits == 24 || m->bits == 32);
    for (const DisplayMode *n = modes; n != m; n++)
      EXPECT_FALSE(n->width == m->width && n->height == m->height && n->bits == m->bits) << "listed twice";
  }
  EXPECT_LE(count, max_display_modes);
}

TEST_F(WindowTest, HiddenOrMinimisedWindowDrawsNoFrame) {
  SDL_Window *sdl = SDL_GL_GetCurrentWindow();
  ASSERT_NE(sdl, nullptr);
  Viewport v;
  SDL_HideWindow(sdl);
  EXPECT_FALSE(window_frame_begin(window, &v));
  SDL_ShowWindow(sdl);
  settle();
  EXPECT_TRUE(window_frame_begin(window, &v));
  window_frame_end(window);

  // The minimise and restore notices as the window manager would send them.
  SDL_Event e = {};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = SDL_GetWindowID(sdl);
  e.window.event = SDL_WINDOWEVENT_MINIMIZED;
  SDL_PushEvent(&e);
  window_pump(window);
  EXPECT_FALSE(window_is_shown(window));
  EXPECT_FALSE(window_frame_begin(window, &v));
  e.window.event = SDL_WINDOWEVENT_RESTORED;
  SDL_PushEvent(&e);
  window_pump(window);
  EXPECT_TRUE(window_frame_begin(window, &v));
  window_frame_end(window);
}

TEST_F(WindowTest, CloseBoxAsksInsteadOfClosing) {
  SDL_Window *sdl = SDL_GL_GetCurrentWindow();
  SDL_Event e = {};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = SDL_GetWindowID(sdl);
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  SDL_PushEvent(&e);
  std::vector<InputEvent> events = collect(1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, event_close);
  EXPECT_EQ(events[0].pressed, 1);
  Viewport v;
  EXPECT_TRUE(window_frame_begin(window, &v)) << "the window is still there";
  window_frame_end(window);
}

// What a window manager sends when its close box is pressed. libX11 is
// already loaded by SDL; its functions are looked up rather than linked.
bool press_close_box(SDL_Window *sdl) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(sdl, &info) || info.subsystem != SDL_SYSWM_X11) return false;
  void *x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (!x11) return false;
  auto intern = reinterpret_cast<Atom (*)(Display *, const char *, Bool)>(dlsym(x11, "XInternAtom"));
  auto send = reinterpret_cast<Status (*)(Display *, XWindow, Bool, long, XEvent *)>(dlsym(x11, "XSendEvent"));
  auto flush = reinterpret_cast<int (*)(Display *)>(dlsym(x11, "XFlush"));
  bool sent = false;
  if (intern && send && flush) {
    Display *display = info.info.x11.display;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = info.info.x11.window;
    event.xclient.message_type = intern(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(intern(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    sent = send(display, info.info.x11.window, False, NoEventMask, &event) != 0;
    flush(display);
  }
  dlclose(x11);
  return sent;
}

TEST_F(WindowTest, CloseBoxOfTheWindowManager) {
  ASSERT_TRUE(press_close_box(SDL_GL_GetCurrentWindow()));
  std::vector<InputEvent> events = collect(1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, event_close);
  Viewport v;
  EXPECT_TRUE(window_frame_begin(window, &v)) << "the window is still there";
  window_frame_end(window);
  EXPECT_TRUE(collect(1, 0.2).empty()) << "one press, one request";
}

TEST_F(WindowTest, TypedTextBecomesLatin1Characters) {
  SDL_Event e = {};
  e.type = SDL_TEXTINPUT;
  e.text.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
  snprintf(e.text.text, sizeof e.text.text, "%s", "a\xC3\xA9\xE2\x82\xAC\xC2\xB0z");  // a é € ° z
  SDL_PushEvent(&e);
  std::vector<InputEvent> events = collect(4);
  ASSERT_EQ(events.size(), 4u) << "the euro sign has no code below 256";
  EXPECT_EQ(events[0].code, 'a');
  EXPECT_EQ(events[1].code, 0xE9);
  EXPECT_EQ(events[2].code, 0xB0);
  EXPECT_EQ(events[3].code, 'z');
  for (const InputEvent &c : events) EXPECT_EQ(c.pressed, 1);
}

TEST_F(WindowTest, ModeChangesResizeAndGoFullScreen) {
  window_set_mode(window, 400, 300, 0);
  int w = 0, h = 0;
  HovlTime give_up = time_from_seconds(time_seconds(time_now()) + 2.0);
  bool changed = false;
  while (!changed && time_compare(time_now(), give_up) < 0) {
    window_pump(window);
    changed = window_size_changed(window, &w, &h);
    SDL_Delay(5);
  }
  ASSERT_TRUE(changed);
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 300);
  EXPECT_FALSE(window_size_changed(window, &w, &h)) << "reported once";

  window_set_mode(window, 0, 0, 1);
  EXPECT_TRUE(window_is_fullscreen(window));
  EXPECT_TRUE(SDL_GetWindowFlags(SDL_GL_GetCurrentWindow()) & SDL_WINDOW_FULLSCREEN);
  window_set_mode(window, 320, 240, 0);
  EXPECT_FALSE(window_is_fullscreen(window));
  EXPECT_FALSE(SDL_GetWindowFlags(SDL_GL_GetCurrentWindow()) & SDL_WINDOW_FULLSCREEN);
}

TEST_F(WindowTest, WindowThatMayNotGoFullScreenStaysWindowed) {
  window_close(window);
  window = window_open_gl(title, 200, 150, 32 | window_no_fullscreen, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  window_set_mode(window, 0, 0, 1);
  EXPECT_FALSE(window_is_fullscreen(window));
  EXPECT_FALSE(SDL_GetWindowFlags(SDL_GL_GetCurrentWindow()) & SDL_WINDOW_RESIZABLE);
}

TEST_F(WindowTest, KeysSentToTheWindowArriveInOrderWithTheirCodes) {
  if (system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(focus());
  // The server counts whole milliseconds.
  HovlTime before = time_from_seconds(time_seconds(time_now()) - 0.001);
  ASSERT_TRUE(run("xdotool key --delay 30 x c shift+n Return Right KP_Enter KP_Divide Home"));
  HovlTime after = time_now();
  const int x = 0x1000 + 45, c = 0x1000 + 46, shift = 0x1000 + 42, n = 0x1000 + 49, enter = 0x1000 + 28,
            right = 0x1000 + 333, kp_enter = 0x1000 + 284, kp_divide = 0x1000 + 309, home = 0x1000 + 327;
  struct Expected {
    int code, pressed;
  } expected[] = {{x, 1},     {'x', 1},   {x, 0},     {c, 1},        {'c', 1},         {c, 0},
                  {shift, 1}, {n, 1},     {'N', 1},   {shift, 0},    {n, 0},           {enter, 1},
                  {13, 1},    {enter, 0}, {right, 1}, {right, 0},    {kp_enter, 1},    {13, 1},
                  {kp_enter, 0}, {kp_divide, 1}, {'/', 1}, {kp_divide, 0}, {home, 1}, {home, 0}};
  const size_t count = sizeof expected / sizeof expected[0];
  std::vector<InputEvent> events = collect(count + 1);
  std::string got;
  for (const InputEvent &e : events)
    got += std::string(input_code_name(e.code) ? input_code_name(e.code) : std::to_string(e.code).c_str()) +
           (e.pressed ? "+ " : "- ");
  ASSERT_EQ(events.size(), count) << got;
  for (size_t i = 0; i < count; i++) {
    EXPECT_EQ(events[i].code, expected[i].code) << i << " " << (input_code_name(events[i].code) ?: "?");
    EXPECT_EQ(events[i].pressed, expected[i].pressed) << i;
    EXPECT_GE(time_compare(events[i].time, before), 0) << i;
    EXPECT_LE(time_compare(events[i].time, after), 0) << i;
    if (i > 0) {
      EXPECT_LE(time_compare(events[i - 1].time, events[i].time), 0) << i;
    }
  }
  EXPECT_STREQ(input_code_name(events[7].code), "N");
}

TEST_F(WindowTest, EventsCarryTheTimeOfThePressNotOfThePump) {
  if (system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(focus());
  // Two presses 200 ms apart, both read by one late pump.
  HovlTime first = time_from_seconds(time_seconds(time_now()) - 0.001);
  ASSERT_TRUE(run("xdotool keydown z"));
  SDL_Delay(200);
  HovlTime second = time_now();
  ASSERT_TRUE(run("xdotool keyup z"));
  SDL_Delay(100);
  std::vector<InputEvent> events = collect(3);  // z down, 'z', z up
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].code, 0x1000 + 44);
  EXPECT_EQ(events[2].code, 0x1000 + 44);
  EXPECT_EQ(events[2].pressed, 0);
  double gap = time_seconds(events[2].time) - time_seconds(events[0].time);
  EXPECT_GT(gap, 0.15) << "stamped when pressed, not when read";
  EXPECT_LT(gap, 0.5);
  EXPECT_GE(time_compare(events[0].time, first), 0);
  EXPECT_LT(time_compare(events[0].time, second), 0);
}

TEST_F(WindowTest, ClicksAndThePointer) {
  if (system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(focus());
  ASSERT_TRUE(run("xdotool mousemove --window " + x_id + " 50 60 click 1 click 3"));
  std::vector<InputEvent> events = collect(4);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].code, event_mouse_left);
  EXPECT_EQ(events[0].pressed, 1);
  EXPECT_EQ(events[1].code, event_mouse_left);
  EXPECT_EQ(events[1].pressed, 0);
  EXPECT_EQ(events[2].code, event_mouse_right);
  EXPECT_EQ(events[3].code, event_mouse_right);
  EXPECT_EQ(input_read_axis(input_open_axis("cursor-x")), 50);
  EXPECT_EQ(input_read_axis(input_open_axis("cursor-y")), 60);
}

}  // namespace

namespace {

TEST_F(WindowTest, MouseAsADeviceWhenNotSticksOnly) {
  if (system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
  window_close(window);
  setenv("HOVL_OPTIONS", "[dinputsticksonly:off]", 1);
  hovl_reset_for_tests();
  window = window_open_gl(title, 320, 240, 32, 8, 24, 8, 0);
  unsetenv("HOVL_OPTIONS");
  ASSERT_NE(window, nullptr);
  settle();
  InputDevice *mouse = input_find_device("Mouse");
  ASSERT_NE(mouse, nullptr);
  ASSERT_TRUE(focus());
  ASSERT_TRUE(run("xdotool mousemove --window " + x_id + " 100 100"));
  settle();
  AxisHandle x = input_open_axis("mouse-x");
  AxisHandle y = input_open_axis("mouse-y");
  ASSERT_EQ(x.device, mouse);
  input_read_axis(x);
  input_read_axis(y);
  ASSERT_TRUE(run("xdotool mousemove_relative -- 30 -20"));
  settle();
  EXPECT_EQ(input_read_axis(x), 30);
  EXPECT_EQ(input_read_axis(y), -20);
  EXPECT_EQ(input_read_axis(x), 0) << "relative axes count from the last read";

  ASSERT_TRUE(run("xdotool click 1"));
  std::vector<InputEvent> events = collect(4);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].code, event_mouse_left);
  EXPECT_EQ(events[1].code, input_button_code("mouse-left"));
  EXPECT_EQ(events[1].code, mouse->id);
  EXPECT_EQ(events[1].pressed, 1);
  EXPECT_EQ(events[3].code, mouse->id);
  EXPECT_EQ(events[3].pressed, 0);
}

}  // namespace

namespace {

TEST_F(WindowTest, OpeningAndClosingAreLogged) {
  window_close(window);
  window = nullptr;
  hovl_reset_for_tests();
  std::string log = make_temp_dir("window_log") + "/lastlog.txt";
  hovl_log(("HOVL_LOGFILE=" + log).c_str());
  window = window_open_gl(title, 320, 240, 32, 8, 24, 8, 0);
  ASSERT_NE(window, nullptr);
  window_close(window);
  window = nullptr;
  hovl_log(nullptr);
  std::string text = read_text_file(log);
  const char *lines[] = {"Creating window\n", "Choosing pixel format\n", "Creating OpenGL context\n",
                         "Controller roll call...\n", "End of controller roll call\n", "Deleting OpenGL context\n",
                         "Closing input devices\n", "Destroying window\n",
                         "Window shutdown complete\n"};
  size_t at = 0;
  for (const char *line : lines) {
    size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << text;
    at = found;
  }
}

}  // namespace
