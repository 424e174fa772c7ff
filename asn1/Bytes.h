// The byte string every codec layer passes around. Includes nothing of ours.
#pragma once

#include <cstdint>
#include <vector>

typedef std::vector<uint8_t> Bytes;
