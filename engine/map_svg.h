// The memory map as a picture: a standalone SVG document for the README,
// the window and the CLI, readable on screen and printed in grey.
#pragma once

#include <string>

#include "engine/memory_map.h"

namespace vantlebld {

// The map as an SVG 1.1 document (no scripts, no external references): a
// header with the model and the write plan; the flash as a bar of its
// ranges, each kind in its own colour and pattern (small ranges widened,
// long empty stretches and the bootloader zone shortened behind a break
// marker), with their start addresses; the blocks sent as ticks; the
// bootloader entry; the reset path as arrows; EEPROM and configuration as
// small bars; the collision of a refused file; a legend. Every element
// that stands for something has a class naming it: data, empty, slot,
// zone, entry, unit, eeprom, config, reset-arrow, slot-arrow, collision,
// legend.
std::string MapSvg(const TMemoryMap& map);

}  // namespace vantlebld
