// The menus without a window: type-ahead on choices, sliders by key and
// pointer, text fields in both modes, navigation limits, the list chooser's
// pages, the server history, the graphics preset label, screenshot names and
// the layout of the help screen in the game's own font.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/bindings.h"
#include "app/config.h"
#include "assets/file.h"
#include "platform/input.h"
#include "test_util.h"
#include "ui/menu.h"
#include "ui/text.h"

namespace {

struct MenuTest : ::testing::Test {
  void SetUp() override {
    input_make_aliases();
    config_set_defaults();
    menu_init();
    menu_set_screen_size(1280, 720);
    menu_set_pointer(-100, -100, 0);
  }
  void TearDown() override { menu_open(menu_none); }
  // Opens a screen and ends the frame, so that keys reach it.
  void open(int screen) {
    menu_open(screen);
    menu_frame_end();
  }
  void key(int code) { menu_key(code); }
  const MenuKeys &k() { return menu_keys(); }
  int find_item(const char *label) {
    for (int i = 0; i < menu_item_count(); i++)
      if (menu_item_label(i) && strcmp(menu_item_label(i), label) == 0) return i;
    return -1;
  }
};

bool contains_blind(const char *text, const char *part) {
  std::string a(text), b(part);
  for (auto &c : a) c = static_cast<char>(tolower(c));
  for (auto &c : b) c = static_cast<char>(tolower(c));
  return a.find(b) != std::string::npos;
}

TEST_F(MenuTest, KeyNamesResolve) {
  EXPECT_GE(k().up, 0);
  EXPECT_GE(k().down, 0);
  EXPECT_GE(k().enter, 0);
  EXPECT_GE(k().cursor_left, 0);
  EXPECT_GE(k().page_up, 0);
}

TEST_F(MenuTest, TypeAheadOnTheBikeChoice) {
  Choice *bike = &setup_settings().bike;
  ASSERT_GT(bike->count, 1);
  int start = bike->selected;
  // The first bike from the current one whose name holds "kx" in any case.
  int expected = -1;
  for (int n = 0; n < bike->count && expected < 0; n++) {
    int i = (start + n) % bike->count;
    if (contains_blind(bike->texts[i], "kx")) expected = i;
  }
  ASSERT_GE(expected, 0) << "the catalogue has a kx";
  TypeAhead *typed = menu_type_ahead();
  typed->owner = nullptr;
  choice_key(bike, typed, 'k', false);
  choice_key(bike, typed, 'X', false);
  EXPECT_EQ(bike->selected, expected);
  EXPECT_STREQ(typed->text, "kX");

  // The drawn entry carries the last occurrence in red.
  char shown[256];
  choice_display(bike, typed, shown, sizeof shown);
  EXPECT_NE(strstr(shown, "\033[31m"), nullptr);
  EXPECT_NE(strstr(shown, "\033[0m"), nullptr);
  const char *red = strstr(shown, "\033[31m") + 5;
  EXPECT_EQ(tolower(red[0]), 'k');
  EXPECT_EQ(tolower(red[1]), 'x');
  EXPECT_EQ(red[2], '\033');

  // A letter no bike holds changes neither the bike nor the typed text.
  char absent = 0;
  for (char c = 'a'; c <= 'z' && !absent; c++) {
    char probe[4] = {'k', 'x', c, 0};
    bool any = false;
    for (int i = 0; i < bike->count; i++) any = any || contains_blind(bike->texts[i], probe);
    if (!any) absent = c;
  }
  ASSERT_NE(absent, 0);
  choice_key(bike, typed, absent, false);
  EXPECT_EQ(bike->selected, expected);
  EXPECT_STREQ(typed->text, "kX");

  // Backspace clears it; "left" steps back with wrapping.
  choice_key(bike, typed, 8, false);
  EXPECT_STREQ(typed->text, "");
  bike->selected = 0;
  choice_key(bike, typed, k().left, false);
  EXPECT_EQ(bike->selected, bike->count - 1);
  choice_key(bike, typed, k().enter, false);
  EXPECT_EQ(bike->selected, 0);
}

TEST_F(MenuTest, TabFindsTheNextEntryHoldingTheText) {
  static const char *texts[] = {"alpha", "beta", "gamma", "alphabet"};
  Choice c = {"Test", texts, 4, 0};
  TypeAhead typed = {};
  choice_key(&c, &typed, 'a', false);  // "alpha" holds it already
  choice_key(&c, &typed, 'l', false);
  EXPECT_EQ(c.selected, 0);
  choice_key(&c, &typed, 9, false);
  EXPECT_EQ(c.selected, 3);
  choice_key(&c, &typed, 9, false);
  EXPECT_EQ(c.selected, 0);  // wraps
  // A key for another choice clears the text.
  Choice other = {"Other", texts, 4, 1};
  choice_key(&other, &typed, 'g', false);
  EXPECT_STREQ(typed.text, "g");
  EXPECT_EQ(other.selected, 2);
}

TEST_F(MenuTest, SliderKeysAndPointer) {
  open(menu_new_race);
  int laps = find_item("Laps");
  ASSERT_GE(laps, 0);
  Slider &s = game_settings().laps;
  s.value = s.maximum;
  menu_set_selection(laps);
  key(k().right);
  EXPECT_EQ(s.value, s.maximum);
  key(k().left);
  EXPECT_EQ(s.value, s.maximum - s.step);

  float x0, x1;
  menu_item_bar(laps, &x0, &x1);
  ASSERT_LT(x0, x1);
  MenuRect r = menu_item_rect(laps);
  float y = (r.y0 + r.y1) / 2;
  s.value = 0;
  menu_set_pointer(x1 + 10, y, 1);
  key(k().cursor_left);
  EXPECT_EQ(s.value, s.maximum);

  // Halfway along the bar: the nearest step to half the range.
  menu_set_pointer((x0 + x1) / 2, y, 1);
  key(menu_key_drag);
  EXPECT_EQ(s.value, 25);
  // More than 15 pixels from the bar nothing happens.
  menu_set_pointer(x1 + 20, y, 1);
  key(menu_key_drag);
  EXPECT_EQ(s.value, 25);
  // Nor outside the row.
  menu_set_pointer(x1, r.y1 + 2, 1);
  key(menu_key_drag);
  EXPECT_EQ(s.value, 25);

  // The widget alone: the result is clamped and on a step.
  Slider t = {"t", 0.5, 0.125, 0, 1};
  EXPECT_EQ(slider_key(&t, menu_key_drag, 100 + 0.3f * 200, 100, 300, true), 1);
  EXPECT_DOUBLE_EQ(t.value, 0.25);
  slider_key(&t, menu_key_drag, 50, 100, 300, true);
  EXPECT_DOUBLE_EQ(t.value, 0);
}

TEST_F(MenuTest, TextFieldsOverwriteAndInsert) {
  TextSetting number = {"Number", 3, "999"};
  int cursor = 1;
  EXPECT_EQ(text_key(&number, 3, false, &cursor, '5'), 1);
  EXPECT_STREQ(number.text, "959");
  EXPECT_EQ(cursor, 2);
  cursor = 3;
  EXPECT_EQ(text_key(&number, 3, false, &cursor, '1'), 0);  // at the maximum
  EXPECT_STREQ(number.text, "959");

  TextSetting name = {"Name", 63, "999"};
  cursor = 1;
  text_key(&name, 63, true, &cursor, '5');
  EXPECT_STREQ(name.text, "9599");
  // At the maximum in insert mode the last character falls off.
  TextSetting full = {"x", 3, "abc"};
  cursor = 0;
  text_key(&full, 3, true, &cursor, 'z');
  EXPECT_STREQ(full.text, "zab");
  // Editing keys.
  cursor = 1;
  text_key(&full, 3, true, &cursor, 8);
  EXPECT_STREQ(full.text, "ab");
  EXPECT_EQ(cursor, 0);
  text_key(&full, 3, true, &cursor, 127);
  EXPECT_STREQ(full.text, "b");
  text_key(&full, 3, true, &cursor, k().left);
  EXPECT_EQ(cursor, 0);
  text_key(&full, 3, true, &cursor, k().right);
  text_key(&full, 3, true, &cursor, k().right);
  EXPECT_EQ(cursor, 1);
  EXPECT_EQ(text_key(&full, 3, true, &cursor, 200 + 100), 0);  // not a character

  // Through the Bike Setup screen: "Number" overwrites, "Name" inserts.
  open(menu_bike_setup);
  set_text(&setup_settings().number, "999");
  set_text(&setup_settings().name, "Rookie");
  int item = find_item("Number");
  ASSERT_GE(item, 0);
  menu_set_selection(item);
  key(k().left);
  key(k().left);  // cursor at 1
  key('5');
  EXPECT_STREQ(setup_settings().number.text, "959");
  item = find_item("Name");
  menu_set_selection(item);
  key('!');
  EXPECT_STREQ(setup_settings().name.text, "Rookie!");
}

TEST_F(MenuTest, NavigationStopsAtTheEnds) {
  open(menu_main);
  int last = menu_item_count() - 1;
  EXPECT_EQ(last, 9);
  key(k().up);
  EXPECT_EQ(menu_selection(), 0);
  for (int i = 0; i < 20; i++) key(k().down);
  EXPECT_EQ(menu_selection(), last);
  EXPECT_STREQ(menu_item_label(last), "Quit");
  // A key the item does not know leaves everything as it was.
  key('x');
  EXPECT_EQ(menu_screen(), menu_main);
  EXPECT_EQ(menu_selection(), last);
}

TEST_F(MenuTest, KeysOfTheFrameThatChangedTheScreenAreIgnored) {
  menu_open(menu_main);
  menu_key(k().down);
  EXPECT_EQ(menu_selection(), 0);
  menu_frame_end();
  menu_key(k().down);
  EXPECT_EQ(menu_selection(), 1);
  menu_key(k().enter);  // "Playback Race"
  EXPECT_EQ(menu_screen(), menu_playback);
  EXPECT_EQ(menu_selection(), 0);
  menu_key(k().enter);  // ignored: same frame
  EXPECT_EQ(menu_screen(), menu_playback);
}

TEST_F(MenuTest, HoverSelectsTheItemUnderThePointer) {
  open(menu_main);
  MenuRect r = menu_item_rect(4);
  menu_set_pointer((r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2, 0);
  menu_hover();
  EXPECT_EQ(menu_selection(), 4);
  menu_set_pointer(2, 2, 0);  // nothing there
  menu_hover();
  EXPECT_EQ(menu_selection(), 4);
  // The rectangles of neighbouring items do not overlap.
  for (int i = 1; i < menu_item_count(); i++) EXPECT_LE(menu_item_rect(i - 1).y1, menu_item_rect(i).y0);
}

TEST_F(MenuTest, ChooserOfTwentyOneEntries) {
  std::vector<std::string> names;
  std::vector<const char *> pointers;
  for (int i = 0; i < 21; i++) names.push_back("track" + std::to_string(i));
  for (auto &n : names) pointers.push_back(n.c_str());
  set_track_names(pointers.data(), 21);
  EXPECT_EQ(chooser_pages(21), 2);
  EXPECT_EQ(chooser_page_entries(21, 1), 1);

  open(menu_new_race);
  int track = find_item("Track");
  ASSERT_GE(track, 0);
  menu_set_selection(track);
  key(k().enter);
  ASSERT_EQ(menu_screen(), menu_chooser);
  menu_frame_end();
  EXPECT_STREQ(menu_chooser_state()->title, "Choose Track");
  EXPECT_EQ(menu_item_count(), 23);
  EXPECT_STREQ(menu_item_label(2), "track0");
  EXPECT_STREQ(menu_item_label(22), "Next Page");

  menu_set_selection(22);
  key(k().enter);
  EXPECT_EQ(menu_chooser_state()->page, 1);
  EXPECT_STREQ(menu_item_label(2), "track20");
  // "up" from "Next Page" reaches the one entry; "down" from it "Next Page".
  key(k().up);
  EXPECT_EQ(menu_selection(), 2);
  key(k().down);
  EXPECT_EQ(menu_selection(), 22);
  key(k().enter);
  EXPECT_EQ(menu_chooser_state()->page, 1);  // stays on the last page
  menu_set_selection(1);
  key(k().enter);
  EXPECT_EQ(menu_chooser_state()->page, 0);
  key(k().enter);
  EXPECT_EQ(menu_chooser_state()->page, 0);

  // Picking an entry returns to the choice with that entry.
  menu_set_selection(22);
  key(k().enter);
  menu_set_selection(2);
  key(k().enter);
  EXPECT_EQ(menu_screen(), menu_new_race);
  EXPECT_EQ(menu_selection(), track);
  EXPECT_STREQ(choice_text(&game_settings().track), "track20");

  // "Cancel" goes back without a change.
  menu_frame_end();
  key(k().enter);
  menu_frame_end();
  key(k().enter);  // item 0: "Cancel"
  EXPECT_EQ(menu_screen(), menu_new_race);
  EXPECT_STREQ(choice_text(&game_settings().track), "track20");
}

TEST_F(MenuTest, ServerHistoryPages) {
  GameSettings &g = game_settings();
  for (auto &h : g.server_name_hist) set_text(&h, "");
  push_server_history("oldest.example");
  push_server_history("middle.example");
  push_server_history("newest.example");
  set_text(&g.server_name, "typed.example");
  open(menu_multiplayer);
  int server = find_item("Server");
  ASSERT_GE(server, 0);
  menu_set_selection(server);
  key(k().page_up);
  EXPECT_STREQ(g.server_name.text, "newest.example");
  EXPECT_EQ(menu_history_cursor(), 0);
  key(k().page_up);
  key(k().page_up);
  EXPECT_STREQ(g.server_name.text, "oldest.example");
  key(k().page_up);  // an empty entry stops it
  EXPECT_STREQ(g.server_name.text, "oldest.example");
  EXPECT_EQ(menu_history_cursor(), 2);
  key(k().page_down);
  EXPECT_STREQ(g.server_name.text, "middle.example");
  key(k().page_down);
  key(k().page_down);  // back to -1: the text stays
  EXPECT_EQ(menu_history_cursor(), -1);
  EXPECT_STREQ(g.server_name.text, "newest.example");
  // From -1 with the text equal to entry 0 it starts at entry 1.
  key(k().page_up);
  EXPECT_STREQ(g.server_name.text, "middle.example");
  // The typed keys edit the field at the end of the text.
  key('x');
  EXPECT_STREQ(g.server_name.text, "middle.examplex");
}

TEST_F(MenuTest, PresetLabelFollowsTheValues) {
  open(menu_graphics);
  int normal = find_item("Use Normal Settings");
  ASSERT_GE(normal, 0);
  menu_set_selection(normal);
  key(k().enter);
  EXPECT_STREQ(graphics_preset_status(), "Current Settings: Normal");
  open(menu_advanced_graphics);
  int detail = find_item("Ground Geometric Detail");
  ASSERT_GE(detail, 0);
  menu_set_selection(detail);
  key(k().right);
  EXPECT_STREQ(graphics_preset_status(), "Current Settings: Custom");
  key(k().left);
  EXPECT_STREQ(graphics_preset_status(), "Current Settings: Normal");
}

TEST_F(MenuTest, BindingRowShowsTheBinding) {
  char text[128];
  binding_display(bind_throttle, text, sizeof text);
  EXPECT_STREQ(text, "x");
  KeyBinding *b = key_binding(bind_clutch);
  set_binding_text(b, "(1,-1)Pad.axis[2]");
  binding_display(bind_clutch, text, sizeof text);
  EXPECT_STREQ(text, "Pad.axis[2] (Negative)");
  set_binding_text(b, "(-1,1)Pad.axis[2]");
  binding_display(bind_clutch, text, sizeof text);
  EXPECT_STREQ(text, "Pad.axis[2] (Positive)");
  set_binding_text(b, "");
  binding_display(bind_clutch, text, sizeof text);
  EXPECT_STREQ(text, "None");
}

TEST_F(MenuTest, ScreenshotNumbers) {
  const char *none[] = {"tracks/x/desc", nullptr};
  EXPECT_EQ(screenshot_first_number(none), 1);
  const char *some[] = {"screenshot007.png", "screenshot12.ppm", "screenshots.txt", "screenshot999.png", nullptr};
  EXPECT_EQ(screenshot_first_number(some), 1000);
  char name[64];
  screenshot_name(7, name, sizeof name);
  EXPECT_STREQ(name, "screenshot007.png");
  screenshot_name(1000, name, sizeof name);
  EXPECT_STREQ(name, "screenshot1000.png");
}

TEST_F(MenuTest, QuitScreen) {
  open(menu_quit);
  key(k().esc);
  EXPECT_EQ(menu_quit_requested(), 0);
  key('q');
  EXPECT_EQ(menu_quit_requested(), 1);
}

}  // namespace

namespace {

TEST_F(MenuTest, StabilitySetsTheAdvancedValuesWhenItsWholeNumberChanges) {
  SetupSettings &s = setup_settings();
  open(menu_bike_setup);
  int stability = find_item("Stability");
  ASSERT_GE(stability, 0);
  menu_set_selection(stability);
  s.leveling.value = 33;
  s.direct_steering.value = 0.5;
  key(k().left);  // 100 -> 99
  EXPECT_EQ(s.stability.value, 99);
  EXPECT_EQ(s.leveling.value, 20);
  EXPECT_NEAR(s.direct_steering.value, 1 + (0.125 - 1) * 0.95, 1e-6);
  // "*" opens the advanced screen.
  key('*');
  EXPECT_EQ(menu_screen(), menu_stability);
}

int pad_axis(InputDevice *, int) { return 0; }
void pad_release(InputDevice *) {}
const InputDeviceOps pad_ops = {nullptr, pad_axis, pad_release};

TEST_F(MenuTest, ControllerButtonsNavigate) {
  InputDevice *pad = input_add_device("Menu Pad", 14, 2, &pad_ops, nullptr);
  ASSERT_NE(pad, nullptr);
  EXPECT_EQ(menu_controller_key(pad->id + 0), pad->id + 0);  // not yet marked as a controller
  pad->first_hat_button = 10;  // ten buttons, then one hat
  EXPECT_EQ(menu_controller_key(pad->id + 0), k().enter);
  EXPECT_EQ(menu_controller_key(pad->id + 1), k().esc);
  EXPECT_EQ(menu_controller_key(pad->id + 10), k().up);
  EXPECT_EQ(menu_controller_key(pad->id + 11), k().right);
  EXPECT_EQ(menu_controller_key(pad->id + 12), k().down);
  EXPECT_EQ(menu_controller_key(pad->id + 13), k().left);
  EXPECT_EQ(menu_controller_key(pad->id + 5), pad->id + 5);
  EXPECT_EQ(menu_controller_key(k().up), k().up);
  input_remove_device(pad);
}

TEST_F(MenuTest, ConnectWithoutAServerNameStaysInTheMenu) {
  GameSettings &g = game_settings();
  set_text(&g.server_name, "");
  open(menu_multiplayer);
  menu_set_selection(1);
  ASSERT_STREQ(menu_item_label(1), "Connect");
  key(k().enter);
  EXPECT_EQ(menu_screen(), menu_multiplayer);
}

TEST_F(MenuTest, HoverSkipsTheEmptyRowsOfTheChooser) {
  static const char *names[] = {"one", "two", "three"};
  set_track_names(names, 3);
  open(menu_new_race);
  menu_set_selection(find_item("Track"));
  key(k().enter);
  ASSERT_EQ(menu_screen(), menu_chooser);
  MenuRect empty = menu_item_rect(10);  // entries 0..2 sit in items 2..4
  menu_set_pointer((empty.x0 + empty.x1) / 2, (empty.y0 + empty.y1) / 2, 0);
  menu_hover();
  EXPECT_EQ(menu_selection(), 0);
  MenuRect three = menu_item_rect(4);
  menu_set_pointer((three.x0 + three.x1) / 2, (three.y0 + three.y1) / 2, 0);
  menu_hover();
  EXPECT_EQ(menu_selection(), 4);
  EXPECT_STREQ(menu_item_label(4), "three");
}

}  // namespace

namespace {

// The help screen measured in the data set's font (its glyph widths load
// without a window; only the texture needs GL).
struct MenuHelpTest : MenuTest {
  void SetUp() override {
    MenuTest::SetUp();
    setenv("QX_HOME", TORVANE_BIN_DIR, 1);
    setenv("XDG_DATA_HOME", (make_temp_dir("menu-help") + "/home").c_str(), 1);
    file_layer_reset_for_tests();
    file_list();
    load_fonts();
  }
  void TearDown() override {
    free_fonts();
    unsetenv("QX_HOME");
    unsetenv("XDG_DATA_HOME");
    file_layer_reset_for_tests();
    MenuTest::TearDown();
  }
  std::vector<HelpLine> layout() {
    std::vector<HelpLine> lines(max_help_lines);
    lines.resize(static_cast<size_t>(menu_help_layout(lines.data(), max_help_lines)));
    return lines;
  }
  // The key shown beside a label.
  std::string key_of(const char *label) {
    std::vector<HelpLine> lines = layout();
    for (size_t i = 0; i + 1 < lines.size(); i++)
      if (lines[i].style == help_label && strcmp(lines[i].text, label) == 0) return lines[i + 1].text;
    return "(no line " + std::string(label) + ")";
  }
};

bool overlap(const MenuRect &a, const MenuRect &b) {
  return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

TEST_F(MenuHelpTest, EveryLineFitsItsBoxOnSmallAndWideScreens) {
  // The real font: a wide letter is not the 2/3 line height of the stand-in.
  ASSERT_GT(font(font_text)->rect['W'][2], 0.0f) << "the data set's font did not load";
  const int sizes[2][2] = {{1280, 720}, {640, 480}};
  for (const auto &size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
    menu_set_screen_size(size[0], size[1]);
    open(menu_help);
    ASSERT_EQ(menu_item_count(), 2);
    EXPECT_STREQ(menu_item_label(0), "Back to Main Menu");
    EXPECT_STREQ(menu_item_label(1), "Customize Controls");
    // The layout's units as window pixels, as the menu draws them.
    float unit = size[1] / 24.0f;
    float ox = (size[0] / unit - 32) / 2;
    std::vector<HelpLine> lines = layout();
    ASSERT_GE(lines.size(), 40u);
    std::vector<MenuRect> boxes;
    for (const HelpLine &l : lines) {
      SCOPED_TRACE(l.text);
      EXPECT_GT(strlen(l.text), 0u);
      // Drawn at 0.75 of the box height with an eighth of a unit each side
      // to spare, it must fit without being shrunk.
      EXPECT_LE(text_width(l.text) * 0.75f * l.h, l.x1 - l.x0 - 0.25f);
      // Legible: at least 9 pixels a line.
      EXPECT_GE(0.75f * l.h * unit, 9.0f);
      MenuRect r = {(ox + l.x0) * unit, (1 - l.top) * unit, (ox + l.x1) * unit, (1 - l.top + l.h) * unit};
      EXPECT_GE(r.x0, 0);
      EXPECT_LE(r.x1, size[0]);
      EXPECT_GE(r.y0, 2 * unit);   // below the title bar
      EXPECT_LE(r.y1, 23 * unit);  // above the version line
      for (int i = 0; i < menu_item_count(); i++) EXPECT_FALSE(overlap(r, menu_item_rect(i))) << "item " << i;
      for (const MenuRect &other : boxes) EXPECT_FALSE(overlap(r, other));
      boxes.push_back(r);
    }
  }
}

TEST_F(MenuHelpTest, KeysAreTheCurrentBindings) {
  EXPECT_EQ(key_of("Throttle"), "x");
  EXPECT_EQ(key_of("Sit/Dab"), "right ctrl");
  EXPECT_EQ(key_of("Screenshot"), "s");
  // Rebinding shows at once: a key, an axis, nothing.
  ASSERT_TRUE(set_binding_text(key_binding(bind_throttle), "w"));
  ASSERT_TRUE(set_binding_text(key_binding(bind_left), "(0.000000,-1.000000)Pad.axis[0]"));
  ASSERT_TRUE(set_binding_text(key_binding(bind_screenshot), ""));
  EXPECT_EQ(key_of("Throttle"), "w");
  EXPECT_EQ(key_of("Left"), "Pad.axis[0] (Negative)");
  EXPECT_EQ(key_of("Screenshot"), "None");
  // The keys no binding names are there too.
  EXPECT_EQ(key_of("This Screen"), "F1");
  EXPECT_EQ(key_of("Menus"), "esc");
}

TEST_F(MenuHelpTest, ReachedFromTheMainMenuAndLeftByItsButtons) {
  open(menu_main);
  int help = find_item("Controls and Help");
  ASSERT_GE(help, 0);
  EXPECT_EQ(help, menu_item_count() - 2) << "just before Quit";
  menu_set_selection(help);
  key(k().enter);
  EXPECT_EQ(menu_screen(), menu_help);
  menu_frame_end();
  // Down to "Customize Controls", which opens the bindings.
  key(k().down);
  key(k().enter);
  EXPECT_EQ(menu_screen(), menu_controls);
  open(menu_help);
  key(k().enter);
  EXPECT_EQ(menu_screen(), menu_main);
}

}  // namespace
