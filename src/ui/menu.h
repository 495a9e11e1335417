// Menus: the full-screen screens drawn over the running scene, the widgets
// that edit the setting records (button, choice, slider, text field, key
// binding row), keyboard and pointer navigation, the list chooser for long
// choices, and the screenshot key.
//
// Layout is in a frame 24 units tall whose central 4:3 part is 32 units
// wide; every item keeps the window-pixel rectangle it was last laid out in
// (pointer hits and hovering use it). The widget functions below work on
// plain records and need no window.
#pragma once

struct Choice;
struct Slider;
struct TextSetting;

enum MenuScreen {
  menu_none,
  menu_main,
  menu_new_race,
  menu_playback,
  menu_series,
  menu_standings,
  menu_time_trial,
  menu_multiplayer,
  menu_bike_setup,
  menu_graphics,
  menu_controls,
  menu_suspension,
  menu_stability,
  menu_advanced_graphics,
  menu_chooser,
  menu_console,
  menu_quit,
  menu_help,  // "Controls and Help" (F1)
  menu_screen_count
};

// Pointer drag, passed to menu_key while the button is held.
constexpr int menu_key_drag = 16;
constexpr int chooser_page_size = 20;
constexpr int max_type_ahead = 255;
constexpr int max_menu_items = 64;

// ---------------------------------------------------------------- widgets

// The special keys the widgets know (codes from the input layer; -1 when
// a name is unknown).
struct MenuKeys {
  int up, down, left, right, enter, keypad_enter, esc, cursor_left, page_up, page_down, del;
};
// Looks the names up in the input layer's key table.
void menu_resolve_keys();
const MenuKeys &menu_keys();

// A window-pixel rectangle (y grows downwards).
struct MenuRect {
  float x0, y0, x1, y1;
};
inline bool rect_contains(const MenuRect &r, float x, float y) { return x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1; }

// The pointer as the widgets see it: window pixels and whether the key
// being handled is a press of the pointer button inside the item.
struct MenuPointer {
  float x, y;
};

// Type-ahead text of a choice: cleared when another choice gets a key.
struct TypeAhead {
  const Choice *owner;
  char text[max_type_ahead + 1];
};

// Game controllers navigate the menus too (a convenience beyond the
// keyboard and pointer): the first hat's directions become "up", "down",
// "left" and "right", button 0 (south on common pads) "enter" and button 1
// (east) "esc". Other codes come back unchanged.
int menu_controller_key(int code);

// Letters, digits, punctuation and blanks up to 255.
bool menu_printable(int code);
// A choice's key. `hit` tells that the key is a pointer press inside the
// choice. Returns 1 when the selection changed.
int choice_key(Choice *choice, TypeAhead *typed, int code, bool hit);
// The selected entry with the last occurrence of the typed text wrapped in
// the red escape sequences.
void choice_display(const Choice *choice, const TypeAhead *typed, char *out, int size);
// A slider's key; for the pointer button and drags `x` is the pointer's
// window x, `bar_x0`..`bar_x1` the bar's span and `near_bar` whether the
// pointer is inside the row within 15 pixels of the bar. Returns 1 on change.
int slider_key(Slider *slider, int code, float x, float bar_x0, float bar_x1, bool near_bar);
// A text field (`cursor` 0..length). Returns 1 when the text changed.
int text_key(TextSetting *text, int max_length, bool insert, int *cursor, int code);
// The value box of a binding row: "<<PRESS A KEY>>", the key name, the axis
// name with "(Negative)"/"(Positive)", or "None".
void binding_display(int binding, char *out, int size);

// ---------------------------------------------------------------- chooser

// The list chooser's state; entries are the choice's texts.
struct Chooser {
  Choice *choice;
  int return_screen;
  int return_selection;
  const char *title;
  int page;
};
int chooser_pages(int count);
// Entries on `page`: 0..20.
int chooser_page_entries(int count, int page);
// Navigation inside the chooser (items: 0 "Cancel", 1 "Prev Page", 2..21
// the entries, 22 "Next Page"): the selection after "up"/"down".
int chooser_move(int count, int page, int selection, int direction);

// ---------------------------------------------------------------- menu state

// Start-up, after the input key table exists: resolves the keys.
void menu_init();
int menu_screen();
// Opens a screen (menu_none closes); the selection returns to 0 and the
// menu-changed flag is set.
void menu_open(int screen);
// The selection and the number of items of the open screen.
int menu_selection();
void menu_set_selection(int index);
int menu_item_count();
// Set by a change of the open screen; cleared by menu_frame_end. While it
// is set menu_key ignores keys, so one key cannot act on two screens.
int menu_changed();
void menu_frame_end();
// The window size the layout uses (every frame; tests set it).
void menu_set_screen_size(int width, int height);
// The pointer position in window pixels and the pointer button's state.
void menu_set_pointer(float x, float y, int button_held);
// A key press while a menu is open.
void menu_key(int code);
// The pointer moved with no button held: the item under it is selected.
void menu_hover();
// Draws the open screen (over the view, after its overlays).
void draw_menu();
// "Quit": any key but esc asks the main loop to end.
int menu_quit_requested();
// The demo list of the playback screen (file names; kept, not copied).
void menu_set_demos(const char *const *names, int count);
// The program clock (fading notices, blinking, binding capture times).
void menu_set_clock(double program_clock);
// The version text drawn in the bottom right corner.
void menu_set_version(const char *text);
// Window mode switching for "Switch To Selected Mode Now".
struct Window;
void menu_set_window(Window *window);

// The texture families of the customisation choices, rebuilt from the file
// list; the bike graphics follow the selected bike.
void menu_build_texture_families();
void menu_rebuild_bike_graphics();
// The "Video Mode" entries from the platform's display modes (before the
// configuration is read, so that its mode can be selected).
void menu_collect_video_modes();

// Tests: the type-ahead record, the open chooser, the rectangle of an item
// of the open screen and its bar span.
TypeAhead *menu_type_ahead();
Chooser *menu_chooser_state();
MenuRect menu_item_rect(int index);
void menu_item_bar(int index, float *x0, float *x1);
// The label of item `index` of the open screen (button text or setting label).
const char *menu_item_label(int index);
// The multiplayer screen's server history cursor (-1 none).
int menu_history_cursor();

// ---------------------------------------------------------------- help screen

// "Controls and Help" is not in the original design; it was added so that a
// newcomer can find the keys without the README. One line of its text and
// the box it is drawn in, in the units of the menu layout (the 32-unit area,
// y the top edge, h the box height); the text is drawn at 0.75 h.
enum HelpStyle { help_heading, help_label, help_key, help_note };
struct HelpLine {
  char text[128];
  float x0, x1, top, h;
  int style;
};
constexpr int max_help_lines = 64;
// The screen's lines below its two buttons: the bike's and the race's keys
// as currently bound (the same names Customize Controls shows), the fixed
// keys, then how to use a controller, get a window and quit. Returns the
// number of lines written.
int menu_help_layout(HelpLine *lines, int max);

// ---------------------------------------------------------------- screenshot

// Reads the window and writes "@screenshot%03d.png" (numbered after the
// highest in the file index); prints "Saved \"screenshot%03d.png\"".
void take_screenshot();
// The name the n-th screenshot gets ("screenshot%03d.png").
void screenshot_name(int number, char *out, int size);
// The first number: the highest "screenshot%u" in `names` + 1.
int screenshot_first_number(const char *const *names);
