// Cuts a Motion JPEG HTTP body into pictures by their Start Of Image and End
// Of Image markers alone; the multipart framing between pictures is never
// copied and so never read. The picture size comes from the baseline Start
// Of Frame header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parsers/HttpMediaParser.h"

namespace zentavo {

class CJpegMediaParser : public CHttpMediaParser {
public:
    explicit CJpegMediaParser(IDriver* driver) : CHttpMediaParser(driver) {}

    void ProcessData(const uint8_t* data, size_t length) override;

    bool InPicture() const { return m_inPicture; }

private:
    // Bytes of a Start Of Frame header after its FF C0: length (2),
    // precision (1), height (2), width (2).
    static constexpr size_t SOF_FIELD_BYTES = 7;

    void Scan(const uint8_t* data, size_t length);
    // Handles the marker whose code byte is at index code; the 0xFF before
    // it is at code - 1, which is -1 when the 0xFF ended the previous chunk.
    void HandleMarker(const uint8_t* data, size_t length, size_t code, size_t& collectionStart);
    // Feeds Start Of Frame header bytes that arrived after the marker;
    // returns how many bytes of data were used.
    size_t CollectSofFields(const uint8_t* data, size_t length);
    void DeliverPicture();
    void DropPicture();

    bool m_inPicture = false;
    // The previous chunk ended on a 0xFF whose code byte is still to come.
    bool m_pendingMarker = false;
    // A Start Of Frame header was cut by the chunk end and is being completed.
    bool m_sofPending = false;
    uint8_t m_sofFields[SOF_FIELD_BYTES] = {};
    size_t m_sofHave = 0;
};

}  // namespace zentavo
