// The generator behind the extraction root's name: draws of 0..32767 from a linear
// congruential sequence, seeded by the platform.
#pragma once

#include <stdint.h>

struct RandomGenerator {
  uint32_t state;
};

void SeedGenerator(RandomGenerator* generator, uint32_t seed);
int NextDraw(RandomGenerator* generator);
// Folds several sources of entropy (time, process id, a fine counter) into one seed.
uint32_t MixSeed(uint64_t seconds, uint32_t process_id, uint64_t counter);
