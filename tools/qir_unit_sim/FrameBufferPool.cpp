#include "FrameBufferPool.h"

#include <utility>

namespace vxqir::sim {

std::vector<uint8_t> FrameBufferPool::take()
{
    std::lock_guard lock(mutex_);
    if (buffers_.empty())
        return {};
    std::vector<uint8_t> buffer = std::move(buffers_.back());
    buffers_.pop_back();
    return buffer;
}

void FrameBufferPool::give(std::vector<uint8_t>&& buffer)
{
    if (buffer.capacity() == 0)
        return;
    buffer.clear();
    std::vector<uint8_t> freed; // released after the lock when the pool is full
    std::lock_guard lock(mutex_);
    if (buffers_.size() >= capacity_) {
        freed = std::move(buffer);
        return;
    }
    buffers_.push_back(std::move(buffer));
}

size_t FrameBufferPool::kept() const
{
    std::lock_guard lock(mutex_);
    return buffers_.size();
}

} // namespace vxqir::sim
