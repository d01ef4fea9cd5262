// HMAC_DRBG of NIST SP 800-90A (section 10.1.2) over HMAC-SHA256: a
// deterministic generator of a published construction, so what a seed makes
// can be checked against the standard's test vectors. No reseeding, no
// prediction resistance and no additional input: a run is meant to repeat.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace palisim {

class HmacDrbg {
 public:
  HmacDrbg() = default;
  HmacDrbg(const HmacDrbg&) = default;
  HmacDrbg& operator=(const HmacDrbg&) = default;
  ~HmacDrbg();

  // Instantiate with the seed material: entropy input, nonce and
  // personalisation string, concatenated.
  void instantiate(std::span<const uint8_t> seed_material);
  // Generate: fills `out` (any length) and updates the state.
  void generate(std::span<uint8_t> out);

 private:
  // HMAC_DRBG_Update with `provided` (empty for none).
  void update(std::span<const uint8_t> provided);

  std::array<uint8_t, 32> key_{};  // K
  std::array<uint8_t, 32> v_{};    // V
};

}  // namespace palisim
