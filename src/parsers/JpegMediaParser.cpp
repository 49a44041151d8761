#include "parsers/JpegMediaParser.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "host/IDriver.h"

#include "runtime/ByteReader.h"
#include "parsers/FrameCodes.h"
#include "parsers/FrameDelivery.h"

namespace zentavo {

namespace {
constexpr uint8_t MARKER_PREFIX = 0xFF;
constexpr uint8_t MARKER_SOI = 0xD8;
constexpr uint8_t MARKER_EOI = 0xD9;
constexpr uint8_t MARKER_SOF0 = 0xC0;
constexpr uint8_t MARKER_SOS = 0xDA;
constexpr uint8_t MARKER_TEM = 0x01;

// Start Of Frame markers: C0 to CF but for DHT (C4), JPG (C8) and DAC (CC).
bool IsStartOfFrame(uint8_t code) { return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC; }
// Markers that stand alone, without a length: TEM and the restart markers.
bool HasNoLength(uint8_t code) { return code == MARKER_TEM || (code >= 0xD0 && code <= 0xD7); }
}  // namespace

bool CJpegMediaParser::HeadIsWellFormed(const uint8_t* data, size_t size) {
    CByteReader in(data, size);
    if (in.ReadU8() != MARKER_PREFIX || in.ReadU8() != MARKER_SOI) return false;
    bool frameHeader = false;
    while (in.Ok()) {
        if (in.ReadU8() != MARKER_PREFIX) return false;
        uint8_t code = in.ReadU8();
        while (code == MARKER_PREFIX && in.Ok()) code = in.ReadU8();  // fill bytes
        if (!in.Ok()) return false;
        if (code == MARKER_SOS) return frameHeader;
        if (HasNoLength(code)) continue;
        if (code == 0x00 || code == MARKER_SOI || code == MARKER_EOI) return false;
        const uint16_t length = in.ReadU16BE();
        if (length < 2 || !in.Skip(length - 2u)) return false;
        if (IsStartOfFrame(code)) frameHeader = true;
    }
    return false;
}

void CJpegMediaParser::ProcessData(const uint8_t* data, size_t length) {
    if (!data) length = 0;
    try {
        Scan(data, length);
    } catch (...) {
        // Only allocation can throw here; the picture in progress is lost.
        DropPicture();
    }
    if (!CheckBufferSize()) DropPicture();
}

void CJpegMediaParser::Scan(const uint8_t* data, size_t length) {
    if (length == 0) return;

    size_t collectionStart = 0;
    size_t next = 0;  // where the search for the next 0xFF begins

    if (m_sofPending) CollectSofFields(data, length);

    if (m_pendingMarker) {
        // The marker's 0xFF ended the previous chunk; its code byte is this
        // chunk's first byte. TCP may split the stream anywhere, so the
        // marker must count exactly as if it had arrived in one piece.
        m_pendingMarker = false;
        HandleMarker(data, length, 0, collectionStart);
        next = 0;
    }

    CByteReader chunk(data, length);
    const uint8_t prefix = MARKER_PREFIX;
    for (size_t p = chunk.Find(&prefix, 1, next); p != CByteReader::npos;
         p = chunk.Find(&prefix, 1, p + 1)) {
        if (p + 1 >= length) {
            m_pendingMarker = true;
            break;
        }
        HandleMarker(data, length, p + 1, collectionStart);
    }

    if (m_inPicture && collectionStart < length)
        m_frameBuffer.insert(m_frameBuffer.end(), data + collectionStart, data + length);
}

void CJpegMediaParser::HandleMarker(const uint8_t* data, size_t length, size_t code,
                                    size_t& collectionStart) {
    switch (data[code]) {
    case MARKER_SOI:
        m_frameBuffer.clear();
        m_inPicture = true;
        if (code == 0) {
            m_frameBuffer.push_back(MARKER_PREFIX);
            collectionStart = 0;
        } else {
            collectionStart = code - 1;
        }
        break;
    case MARKER_EOI:
        if (m_inPicture) {
            m_frameBuffer.insert(m_frameBuffer.end(), data + collectionStart, data + code + 1);
            DeliverPicture();
        }
        DropPicture();
        collectionStart = 0;
        break;
    case MARKER_SOF0:
        m_sofPending = true;
        m_sofHave = 0;
        CollectSofFields(data + code + 1, length - code - 1);
        break;
    default:
        break;
    }
}

size_t CJpegMediaParser::CollectSofFields(const uint8_t* data, size_t length) {
    const size_t take = std::min(length, SOF_FIELD_BYTES - m_sofHave);
    if (take) std::memcpy(m_sofFields + m_sofHave, data, take);
    m_sofHave += take;
    if (m_sofHave == SOF_FIELD_BYTES) {
        CByteReader fields(m_sofFields, SOF_FIELD_BYTES);
        fields.Skip(3);  // length and sample precision
        m_size.height = fields.ReadU16BE();
        m_size.width = fields.ReadU16BE();
        m_sofPending = false;
    }
    return take;
}

void CJpegMediaParser::DeliverPicture() {
    if (m_frameBuffer.empty() || m_size.Empty()) return;
    if (!HeadIsWellFormed(m_frameBuffer.data(), m_frameBuffer.size())) {
        ++m_damaged;
        if (!m_damageLogged && m_driver) {
            m_damageLogged = true;
            const std::string device = m_driver->GetDeviceName();
            m_driver->Message(LOG_WARNING, "%s: Damaged JPEG picture dropped, device %s",
                              "zentavo::CJpegMediaParser::DeliverPicture", device.c_str());
        }
        return;
    }
    m_damageLogged = false;
    FRAME_DESCRIPTION description;
    description.code = FRAME_CODE_JPEG;
    description.capacity = static_cast<uint32_t>(m_frameBuffer.size());
    description.size = m_size;
    DeliverFrame(m_driver, m_client, description, m_frameBuffer.data(), m_frameBuffer.size());
}

void CJpegMediaParser::DropPicture() {
    m_inPicture = false;
    m_frameBuffer.clear();
}

}  // namespace zentavo
