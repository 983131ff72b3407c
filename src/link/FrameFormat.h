// The equipment frame: a 36-byte header and a body at fixed offsets. Received frames are read
// through FrameView, whose accessors never read past the received bytes; handlers are only called
// once frameRead has checked that the frame holds everything that handler reads.
#pragma once

#include "link/FrameLayout.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lyrlink
{

constexpr size_t kMaxDatagramSize = 1472;
constexpr const char* kOwnModelName = "velantrix";
constexpr uint8_t kOwnDeviceType = 4;
constexpr uint8_t kOwnHdrClass = 1;
constexpr uint8_t kOwnMinorVersion = 3;
constexpr uint16_t kEquipmentPort = 50000;

/** A read-only view of received bytes, valid only during the call that delivered them. */
class ByteView
{
public:
    ByteView() noexcept = default;
    ByteView (const void* data, size_t size) noexcept : m_data (static_cast<const uint8_t*> (data)), m_size (size) {}

    size_t size() const noexcept { return m_size; }
    const uint8_t* data() const noexcept { return m_data; }
    bool holds (size_t count) const noexcept { return m_size >= count; }

    /** The byte at index, or 0 past the end: callers check holds() first, this is the safety net. */
    uint8_t operator[] (size_t index) const noexcept { return index < m_size ? m_data[index] : 0; }

    /** The view from offset on (empty past the end). */
    ByteView from (size_t offset) const noexcept
    {
        return offset < m_size ? ByteView (m_data + offset, m_size - offset) : ByteView();
    }

    /** Copies count bytes from offset into out; the bytes past the end read as zero. */
    void copyTo (size_t offset, void* out, size_t count) const noexcept
    {
        auto* o = static_cast<uint8_t*> (out);
        for (size_t i = 0; i < count; ++i)
            o[i] = (*this)[offset + i];
    }

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

/** Header fields of a received frame. */
inline uint8_t frameType (ByteView f) noexcept { return f[offsetof (FrameHeader, frameType)]; }
inline uint8_t frameSubType (ByteView f) noexcept { return f[offsetof (FrameHeader, frameSubType)]; }
inline uint8_t frameHdrClass (ByteView f) noexcept { return f[offsetof (FrameHeader, hdrclass)]; }
inline uint8_t frameMinorVersion (ByteView f) noexcept { return f[offsetof (FrameHeader, minorver)]; }
inline ByteView frameBody (ByteView f) noexcept { return f.from (kFrameHeaderSize); }

/** A one-byte field of a received body. Only fields marked read are accepted: minimumFrameLength
    covers exactly those, so a handler that frameRead called never reads past the received bytes. */
template <const FrameField& field>
uint8_t bodyByte (ByteView body) noexcept
{
    static_assert (field.size == 1, "a one-byte field");
    static_assert (field.read, "a field that minimumFrameLength does not cover");
    return body[field.offset];
}

/** The first byte of a wider field of a received body (an address), under the same rule. */
template <const FrameField& field>
const uint8_t* bodyBytes (ByteView body) noexcept
{
    static_assert (field.read, "a field that minimumFrameLength does not cover");
    return body.data() + field.offset;
}

/** Writes a one-byte field of a body being built. */
template <const FrameField& field>
void putBodyByte (uint8_t* body, uint8_t value) noexcept
{
    static_assert (field.size == 1, "a one-byte field");
    body[field.offset] = value;
}

/** Writes a wider field of a body being built from an array of exactly its width. */
template <const FrameField& field, size_t N>
void putBodyBytes (uint8_t* body, const uint8_t (&value)[N]) noexcept
{
    static_assert (N == field.size, "the value must fill the field");
    std::memcpy (body + field.offset, value, N);
}

template <const FrameField& field, size_t N>
void putBodyBytes (uint8_t* body, const std::array<uint8_t, N>& value) noexcept
{
    static_assert (N == field.size, "the value must fill the field");
    std::memcpy (body + field.offset, value.data(), N);
}

/** The model field as text of at most 20 bytes, NUL-terminated even when the field holds no NUL. */
struct ModelName
{
    char text[kModelFieldSize + 1] {};
};

inline ModelName frameModel (ByteView f) noexcept
{
    ModelName m;
    for (size_t i = 0; i < kModelFieldSize; ++i)
    {
        const auto c = static_cast<char> (f[offsetof (FrameHeader, model) + i]);
        if (c == 0)
            break;
        m.text[i] = c;
    }
    return m;
}

/** The models whose minor version 0 is blocked on a wireless link. */
inline bool isBlockedModel (ByteView f) noexcept
{
    const auto m = frameModel (f);
    return frameMinorVersion (f) == 0 && (std::strcmp (m.text, "DKP-5100") == 0 || std::strcmp (m.text, "DKP-410") == 0);
}

/** The shared send buffer: the header template is written by the link reset, builders write only
    type, subtype, length and their body bytes. */
using SendBuffer = std::array<uint8_t, kMaxDatagramSize>;

/** Clears the buffer and writes magic, model "velantrix", hdrclass 1 and minorver 3. */
void writeHeaderTemplate (SendBuffer& buffer) noexcept;

} // namespace lyrlink
