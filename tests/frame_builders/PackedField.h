// Reading a field of a packed record in an assertion.
#pragma once

namespace vxqir::frames {

/// A field of a packed record, copied: gtest binds its arguments to
/// references, which a packed field cannot have.
template <typename T>
T field(T value)
{
    return value;
}

} // namespace vxqir::frames
