// Hands a text across the engine boundary without sharing any string type:
// the side that owns the text calls Receive, the side that asked keeps a copy.
#pragma once

#include <cstddef>
#include <string>

/// Receiver of one text. Implemented by whoever asks for a text.
class KOVATextReceiver {
public:
    /// Receives `length` bytes at `text` (not necessarily NUL-terminated).
    /// May be called more than once; each call replaces the earlier text.
    virtual void Receive(const char* text, size_t length) noexcept = 0;

protected:
    ~KOVATextReceiver() = default;
};

namespace KOVA {

/// Hands `text` to `receiver`.
inline void Give(KOVATextReceiver& receiver, const std::string& text)
{
    receiver.Receive(text.data(), text.size());
}

/// KOVATextReceiver that keeps the text in a std::string of its own binary.
class StringReceiver final : public KOVATextReceiver {
public:
    void Receive(const char* text, size_t length) noexcept override
    {
        try {
            text_.assign(text, length);
        } catch (...) {
            text_.clear();
        }
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

} // namespace KOVA
