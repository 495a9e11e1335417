// The widget logic of the menus: plain records in, plain records out, no GL.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/bindings.h"
#include "app/config.h"
#include "platform/input.h"
#include "ui/menu.h"

namespace {

MenuKeys keys = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

bool is(int code, int key) { return key >= 0 && code == key; }

// Case-blind substring test.
const char *find_text(const char *haystack, const char *needle) {
  size_t n = strlen(needle);
  if (n == 0) return haystack;
  for (const char *p = haystack; *p; p++) {
    size_t i = 0;
    while (i < n && p[i] && tolower(static_cast<unsigned char>(p[i])) == tolower(static_cast<unsigned char>(needle[i])))
      i++;
    if (i == n) return p;
  }
  return nullptr;
}

const char *last_occurrence(const char *haystack, const char *needle) {
  const char *last = nullptr;
  for (const char *p = find_text(haystack, needle); p && *needle; p = find_text(p + 1, needle)) last = p;
  return last;
}

bool entry_has(const Choice *choice, int index, const char *text) {
  const char *entry = choice->texts[index];
  return entry && find_text(entry, text);
}

}  // namespace

void menu_resolve_keys() {
  keys.up = input_button_code("up");
  keys.down = input_button_code("down");
  keys.left = input_button_code("left");
  keys.right = input_button_code("right");
  keys.enter = input_button_code("enter");
  keys.keypad_enter = input_button_code("keypad enter");
  keys.esc = input_button_code("esc");
  keys.cursor_left = input_button_code("cursor-left");
  keys.page_up = input_button_code("page up");
  keys.page_down = input_button_code("page down");
  keys.del = input_button_code("delete");
}

const MenuKeys &menu_keys() { return keys; }

int menu_controller_key(int code) {
  if (code < event_device_step) return code;
  int id = code - code % event_device_step, button = code % event_device_step;
  for (int i = 0; i < input_device_count(); i++) {
    const InputDevice *d = input_device(i);
    if (!d || d->id != id || d->first_hat_button < 0) continue;  // not a controller
    if (button == 0) return keys.enter;
    if (button == 1) return keys.esc;
    int hat = d->first_hat_button;
    if (button >= hat && button < hat + 4) {
      const int directions[4] = {keys.up, keys.right, keys.down, keys.left};
      return directions[button - hat];
    }
  }
  return code;
}

bool menu_printable(int code) {
  if (code < 0 || code > 255) return false;
  if (code == ' ' || code == '\t') return code == ' ';
  if (code < 128) return isalnum(code) || ispunct(code);
  return code >= 160;  // Latin-1 letters and signs
}

int choice_key(Choice *choice, TypeAhead *typed, int code, bool hit) {
  if (!choice || choice->count <= 0) return 0;
  if (typed->owner != choice) {
    typed->owner = choice;
    typed->text[0] = 0;
  }
  int before = choice->selected;
  int n = choice->count;
  if (is(code, keys.enter) || is(code, keys.keypad_enter) || is(code, keys.right) || hit) {
    typed->text[0] = 0;
    choice->selected = (choice->selected + 1) % n;
  } else if (is(code, keys.left)) {
    typed->text[0] = 0;
    choice->selected = (choice->selected + n - 1) % n;
  } else if (code == 8) {
    typed->text[0] = 0;
  } else if (code == 9) {
    for (int k = 1; k <= n; k++) {
      int i = (choice->selected + k) % n;
      if (entry_has(choice, i, typed->text)) {
        choice->selected = i;
        break;
      }
    }
  } else if (menu_printable(code)) {
    size_t length = strlen(typed->text);
    if (length >= max_type_ahead) return 0;
    typed->text[length] = static_cast<char>(code);
    typed->text[length + 1] = 0;
    for (int k = 0; k < n; k++) {
      int i = (choice->selected + k) % n;
      if (entry_has(choice, i, typed->text)) {
        choice->selected = i;
        return choice->selected != before;
      }
    }
    typed->text[length] = 0;  // nothing holds it: the character is taken off again
  }
  return choice->selected != before;
}

void choice_display(const Choice *choice, const TypeAhead *typed, char *out, int size) {
  const char *entry = choice_text(choice);
  if (!entry) entry = "";
  const char *at = typed && typed->owner == choice && typed->text[0] ? last_occurrence(entry, typed->text) : nullptr;
  if (!at) {
    snprintf(out, static_cast<size_t>(size), "%s", entry);
    return;
  }
  int before = static_cast<int>(at - entry), length = static_cast<int>(strlen(typed->text));
  snprintf(out, static_cast<size_t>(size), "%.*s\033[31m%.*s\033[0m%s", before, entry, length, at, at + length);
}

int slider_key(Slider *slider, int code, float x, float bar_x0, float bar_x1, bool near_bar) {
  double before = slider->value;
  double value = slider->value;
  if (is(code, keys.left)) {
    value -= slider->step;
  } else if (is(code, keys.right)) {
    value += slider->step;
  } else if ((is(code, keys.cursor_left) || code == menu_key_drag) && near_bar && bar_x1 > bar_x0) {
    double steps = std::round((x - bar_x0) / (bar_x1 - bar_x0) * (slider->maximum - slider->minimum) / slider->step);
    value = slider->minimum + steps * slider->step;
  } else {
    return 0;
  }
  if (value < slider->minimum) value = slider->minimum;
  if (value > slider->maximum) value = slider->maximum;
  slider->value = value;
  return value != before;
}

int text_key(TextSetting *setting, int max_length, bool insert, int *cursor, int code) {
  char *text = setting->text;
  int length = static_cast<int>(strlen(text));
  if (max_length > max_text_length) max_length = max_text_length;
  if (*cursor < 0) *cursor = 0;
  if (*cursor > length) *cursor = length;
  if (is(code, keys.left)) {
    if (*cursor > 0) --*cursor;
    return 0;
  }
  if (is(code, keys.right)) {
    if (*cursor < length) ++*cursor;
    return 0;
  }
  if (code == 8) {
    if (*cursor == 0) return 0;
    memmove(text + *cursor - 1, text + *cursor, static_cast<size_t>(length - *cursor + 1));
    --*cursor;
    return 1;
  }
  if (code == 127 || is(code, keys.del)) {
    if (*cursor >= length) return 0;
    memmove(text + *cursor, text + *cursor + 1, static_cast<size_t>(length - *cursor));
    return 1;
  }
  if (!menu_printable(code) || *cursor >= max_length) return 0;
  if (insert) {
    // The rest shifts right; at the maximum the last character falls off.
    int keep = length < max_length ? length : max_length - 1;
    memmove(text + *cursor + 1, text + *cursor, static_cast<size_t>(keep - *cursor));
    text[keep + 1] = 0;
  } else if (*cursor == length) {
    text[length + 1] = 0;
  }
  text[*cursor] = static_cast<char>(code);
  ++*cursor;
  return 1;
}

void binding_display(int index, char *out, int size) {
  const KeyBinding *b = key_binding(index);
  size_t n = static_cast<size_t>(size);
  if (binding_capture_target() == index) {
    snprintf(out, n, "<<PRESS A KEY>>");
  } else if (b && b->key_name) {
    snprintf(out, n, "%s", b->key_name);
  } else if (b && b->axis_name) {
    snprintf(out, n, "%s %s", b->axis_name, b->high < 0 ? "(Negative)" : "(Positive)");
  } else {
    snprintf(out, n, "None");
  }
}

int chooser_pages(int count) { return count <= 0 ? 1 : (count + chooser_page_size - 1) / chooser_page_size; }

int chooser_page_entries(int count, int page) {
  int rest = count - page * chooser_page_size;
  return rest < 0 ? 0 : rest > chooser_page_size ? chooser_page_size : rest;
}

int chooser_move(int count, int page, int selection, int direction) {
  constexpr int next_item = 2 + chooser_page_size;
  int shown = chooser_page_entries(count, page);
  int next = selection + direction;
  if (next < 0) next = 0;
  if (next > next_item) next = next_item;
  // The empty rows of a short page are skipped.
  if (next >= 2 + shown && next < next_item) next = direction > 0 ? next_item : 1 + shown;
  return next;
}
