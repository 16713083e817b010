// The one thing the module side asks of the output side: a module about to be
// released must no longer be played or rendered.
#pragma once

struct Module;

namespace vinto {

// Ends live playback or offline rendering when module is the one playing
// (also a refused start's reset state); anything else plays on.
void StopOutputOf(const Module* module);

}  // namespace vinto
