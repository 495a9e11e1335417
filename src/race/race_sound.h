// The riders' engine voices: one per slot, made when the slot's bike is built
// and freed with it, and brought up to date once per drawn frame from the
// bikes and the listener.
#pragma once
struct BikeState;

// (Re)creates the slot's voice for its newly built bike; `skin` is the bike
// graphics texture the bike was built with (null: the bike's own).
void race_sound_attach(int slot, BikeState *bike, const char *skin);
// Frees the slot's voice (and its sound).
void race_sound_free(int slot);
// Once per frame: synthesises every voice whose slot has a bike, heard from
// the viewed bike (the ear rides with it until the cameras exist).
// `master` is the main loop's master factor; `volume` and `comp_volume` the
// settings of the same names (0..10).
void race_sound_frame(float master, float volume, float comp_volume);
// The slot's voice while its bike has one, else null (the "pipe" command).
struct EngineVoice;
EngineVoice *race_sound_voice(int slot);
// Frees every voice (shutdown, before the sound tables go).
void race_sound_free_all();
