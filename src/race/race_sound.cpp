#include "race/race_sound.h"

#include <ode/ode.h>

#include "app/types.h"
#include "assets/texture.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/drivetrain.h"
#include "race/race.h"
#include "replay/history.h"
#include "sound/engine_sound.h"

namespace {


// One voice per slot; zeroed at start, each lives from its bike's build to
// its free.
EngineVoice voices[max_slots];
bool voice_made[max_slots];

void body_state(const BikeState *bike, float position[3], float velocity[3]) {
  const dReal *p = dBodyGetPosition(bike->bodies[bike_frame]);
  const dReal *v = dBodyGetLinearVel(bike->bodies[bike_frame]);
  for (int k = 0; k < 3; k++) {
    position[k] = static_cast<float>(p[k]);
    velocity[k] = static_cast<float>(v[k]);
  }
}

}  // namespace

void race_sound_attach(int slot, BikeState *bike, const char *skin) {
  if (slot < 0 || slot >= max_slots || !bike) return;
  if (voice_made[slot]) engine_voice_free(&voices[slot]);
  // Without a given skin, the texture the bike was built with: the name it
  // was loaded under when it is loaded, else the name it was chosen by.
  if (!skin || !*skin) skin = texture_name(static_cast<unsigned>(bike->graphics.textures[texture_bike]));
  if (!skin || !*skin) skin = bike->graphics.texture_names[texture_bike];
  engine_voice_create(&voices[slot], bike_info_class(bike->model), skin);
  voice_made[slot] = true;
}

void race_sound_free(int slot) {
  if (slot < 0 || slot >= max_slots || !voice_made[slot]) return;
  engine_voice_free(&voices[slot]);
  voice_made[slot] = false;
}

void race_sound_free_all() {
  for (int i = 0; i < max_slots; i++) race_sound_free(i);
}

void race_sound_frame(float master, float volume, float comp_volume) {
  const RaceState &race = race_state();
  const Slot *viewed = race_slot(race.viewed_slot);
  SoundListener ear = {};
  if (viewed && viewed->bike) {
    body_state(viewed->bike, ear.position, ear.velocity);
    // The bike's own x axis points to the rider's right.
    const dReal *R = dBodyGetRotation(viewed->bike->bodies[bike_frame]);
    ear.right[0] = static_cast<float>(R[0]);
    ear.right[1] = static_cast<float>(R[4]);
    ear.right[2] = static_cast<float>(R[8]);
  } else {
    ear.right[0] = 1;
  }
  engine_sound_set_listener(&ear);
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (!voice_made[i] || !s->bike || !voices[i].sound) continue;
    EngineSoundInput in;
    in.rpm = static_cast<float>(s->bike->engine_speed * static_cast<float>(rads_to_rpm));
    in.torque = engine_torque(s->bike);
    body_state(s->bike, in.position, in.velocity);
    float gain = engine_voice_gain(master, volume, comp_volume, i == race.viewed_slot, history_hidden(i));
    engine_voice_update(&in, &voices[i], gain);
  }
}
