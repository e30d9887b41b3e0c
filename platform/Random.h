#pragma once

#include <cstdint>

namespace raid {

// Pseudo-random numbers for the mailbox sector choice and the flash test patterns.
class RandomPort {
public:
    virtual ~RandomPort() = default;
    virtual void seed(std::uint32_t value) = 0;
    virtual std::uint32_t next() = 0;
};

// Small deterministic generator (xorshift32); good enough for picking sectors and
// reproducible under a fixed seed in tests.
class XorShiftRandom final : public RandomPort {
public:
    explicit XorShiftRandom(std::uint32_t s = 2463534242u) { seed(s); }
    void seed(std::uint32_t value) override { state_ = value ? value : 2463534242u; }
    std::uint32_t next() override {
        std::uint32_t x = state_;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        state_ = x;
        return x;
    }

private:
    std::uint32_t state_ = 2463534242u;
};

}  // namespace raid
