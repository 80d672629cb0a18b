#include "random.h"

void SeedGenerator(RandomGenerator* generator, uint32_t seed) { generator->state = seed; }

int NextDraw(RandomGenerator* generator) {
  generator->state = generator->state * 214013u + 2531011u;
  return static_cast<int>((generator->state >> 16) & 0x7FFF);
}

uint32_t MixSeed(uint64_t seconds, uint32_t process_id, uint64_t counter) {
  // A multiply-xorshift finaliser, so that seeds one apart give unrelated sequences.
  uint64_t x = seconds ^ (uint64_t{process_id} << 32) ^ (counter * 0x9E3779B97F4A7C15ull);
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return static_cast<uint32_t>(x);
}
