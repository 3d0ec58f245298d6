// The special controller list: the edit screen's slash key shows it over the
// right of the screen and the chosen event is inserted at the cursor.
#include "editor/editor.h"
#include "host/host.h"
#include "host/screen.h"
#include "screens/internal.h"
#include "screens/screens.h"

int special_choice = 0;

namespace {

struct ControllerEntry {
  const char* label;  // 35 characters
  char hotkey;        // ' ' for none
  std::uint8_t code, byte2, byte3;
};

constexpr int CONTROLLER_COUNT = 40;
constexpr int CONTROLLER_PAGE = 20;
const ControllerEntry CONTROLLERS[CONTROLLER_COUNT] = {
    {" PG.BANK : PROGRAM BANK MSB  ( 0)[ ", ' ', 235, 0, 0},
    {" PG.BANK : PROGRAM BANK LSB  (32)[ ", ' ', 235, 32, 0},
    {" MODULAT : MODULATION        ( 1)[5", '5', 235, 1, 0},
    {" PORTA T : PORTAMENT TIME    ( 5)[ ", ' ', 235, 5, 0},
    {" VOLUME  : VOLUME            ( 7)[6", '6', 235, 7, 0},
    {" PANPOT  : PANPOT            (10)[7", '7', 235, 10, 0},
    {" EXPRESS : EXPRESSION        (11)[8", '8', 235, 11, 0},
    {" PEDAL   : DAMPER PEDAL      (64)[9", '9', 235, 64, 0},
    {" PORTAM  : PORTAMENT         (65)[ ", ' ', 235, 65, 0},
    {" SOSTEN  : SOSTENUTE         (66)[ ", ' ', 235, 66, 0},
    {" SOFT    : SOFT PEDAL        (67)[ ", ' ', 235, 67, 0},
    {" LEGART  : LEGART            (84)[ ", ' ', 235, 84, 0},
    {" REVERB  : REVERB SEND LEVEL (91)[ ", ' ', 235, 91, 0},
    {" CHORUS  : CHORUS SEND LEVEL (93)[ ", ' ', 235, 93, 0},
    {" NRPN(L) : NRPN LSB          (98)[ ", ' ', 235, 98, 0},
    {" NRPN(M) : NRPN MSB          (99)[ ", ' ', 235, 99, 0},
    {" DATA(M) : DATA ENTRY MSB    ( 6)[ ", ' ', 235, 6, 0},
    {" DATA(L) : DATA ENTRY LSB    (38)[ ", ' ', 235, 38, 0},
    {" RPN (L) : RPN  LSB         (100)[ ", ' ', 235, 100, 0},
    {" RPN (M) : RPN  MSB         (101)[ ", ' ', 235, 101, 0},
    {" PITCH   : PITCH BEND CHANGE     [P", 'P', 238, 0, 64},
    {" PROGRAM : PROGRAM CHANGE        [G", 'G', 236, 0, 0},
    {" BankPrg : PROGRAM BANK CHANGE   [O", 'O', 226, 0, 0},
    {" TEMPO   : RELATIVE TEMPO CHANGE [T", 'T', 231, 64, 0},
    {" CONTROL : CONTROL CHANGE        [L", 'L', 235, 68, 0},
    {" AFTER C.: AFTER TOUCH(CH.)      [C", 'C', 234, 64, 0},
    {" AFTER K.: AFTER TOUCH(POLY)     [K", 'K', 237, 60, 64},
    {" MIDI CH.: MIDI CHANNEL CHANGE   [M", 'M', 230, 1, 0},
    {" UsrExc0 : USER EXCLUSIVE 0      [ ", ' ', 144, 0, 0},
    {" UsrExc1 : USER EXCLUSIVE 1      [ ", ' ', 145, 0, 0},
    {" UsrExc2 : USER EXCLUSIVE 2      [ ", ' ', 146, 0, 0},
    {" UsrExc3 : USER EXCLUSIVE 3      [ ", ' ', 147, 0, 0},
    {" UsrExc4 : USER EXCLUSIVE 4      [ ", ' ', 148, 0, 0},
    {" UsrExc5 : USER EXCLUSIVE 5      [ ", ' ', 149, 0, 0},
    {" UsrExc6 : USER EXCLUSIVE 6      [ ", ' ', 150, 0, 0},
    {" UsrExc7 : USER EXCLUSIVE 7      [ ", ' ', 151, 0, 0},
    {" RolBase : Roland BASE ADD.      [0", '0', 221, 16, 0},
    {" RolDev# : Roland Dev# & Model ID[2", '2', 223, 16, 22},
    {" RolPara : Roland ADD & PARAMETER[1", '1', 222, 0, 0},
    {" KeyScan : Key Scan Data         [ ", ' ', 229, 0, 0},
};

void show_controller_page() {
  const int first = special_choice < CONTROLLER_PAGE ? 0 : CONTROLLER_PAGE;
  for (int i = 0; i < CONTROLLER_PAGE; ++i) {
    const int attr = first + i == special_choice ? ATTR_REVERSE_WHITE : ATTR_WHITE;
    print_at(30, 4 + i, CONTROLLERS[first + i].label, attr);
    print_at(65, 4 + i, "]              ", attr);
  }
  print_at(10, cursor_row, "SPECIAL CONTROLLER ", ATTR_WHITE);
  present();
}

// The chosen entry, or -1 when the list was left with ESC.
int choose_controller() {
  for (;;) {
    show_controller_page();
    const int k = get_key();
    if (k == KEY_ESC) return -1;
    if (k == KEY_RETURN) return special_choice;
    for (int i = 0; i < CONTROLLER_COUNT && k != KEY_SPACE; ++i) {
      if (CONTROLLERS[i].hotkey == k) return special_choice = i;
    }
    if (k == KEY_UP) special_choice = (special_choice + CONTROLLER_COUNT - 1) % CONTROLLER_COUNT;
    if (k == KEY_DOWN) special_choice = (special_choice + 1) % CONTROLLER_COUNT;
  }
}

}  // namespace

void run_controller_list() {
  set_pen(15, 0);
  fill_rect(242, 49, 639, 64);
  const int chosen = choose_controller();
  if (chosen >= 0) {
    const ControllerEntry& e = CONTROLLERS[chosen];
    insert_special_event(e.code, e.byte2, e.byte3);
  }
  paint_screen();
  shown_track = -1;
}
