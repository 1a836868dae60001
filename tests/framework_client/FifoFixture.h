// A sample FIFO over a few Integer64 elements, for the FIFO tests.
#pragma once

#include "fifo/KOVAFastIO.h"
#include "io/KOVAIOEltBuffer.h"

#include <atomic>
#include <memory>
#include <vector>

/// Stop token the test sets by hand.
class TestStopToken final : public KOVAStopToken {
public:
    bool StopRequested() const noexcept override { return stop.load(); }
    std::atomic<bool> stop{ false };
};

/// `size` elements of one 64-bit integer each.
class FifoOfIntegers {
public:
    explicit FifoOfIntegers(size_t size) : storage_(size)
    {
        std::vector<KOVAIOElt*> ring;
        for (size_t i = 0; i < size; ++i) {
            elements_.push_back(std::make_unique<KOVAIOEltBuffer>(KOVATypeInfo{ KOVA::Integer64, nullptr, nullptr },
                                                                  reinterpret_cast<uint8_t*>(&storage_[i]), 1, 8,
                                                                  this));
            ring.push_back(elements_.back().get());
        }
        fifo.SetElements(ring);
    }

    /// Writes `value` into a new element and publishes it; returns the element.
    KOVAIOElt* Publish(int64_t value)
    {
        KOVAIOElt* element = fifo.StartWriting(nullptr, neverStop);
        *element->Integer64() = value;
        fifo.StopWriting(element, false);
        return element;
    }

    static int64_t Value(KOVAIOElt* element) { return *element->Integer64(); }

    KOVAFastIO fifo;
    TestStopToken neverStop;

private:
    std::vector<int64_t> storage_;
    std::vector<std::unique_ptr<KOVAIOEltBuffer>> elements_;
};
