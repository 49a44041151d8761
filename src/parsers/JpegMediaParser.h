// Cuts a Motion JPEG HTTP body into pictures by their Start Of Image and End
// Of Image markers alone; the multipart framing between pictures is never
// copied and so never read. The picture size comes from the baseline Start
// Of Frame header.
//
// A camera that sends garbage produces Start and End Of Image markers by
// chance (two bytes in 65536), so a picture is handed on only when its
// header walks as JPEG marker segments from Start Of Image to Start Of
// Scan, a Start Of Frame among them; anything else would reach the host as
// a frame no decoder can read.
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
    // Pictures dropped because their header was not well formed.
    uint64_t DamagedPictures() const { return m_damaged; }

    // True when data starts with Start Of Image followed by marker segments
    // that lead, by their lengths, to a Start Of Scan with a Start Of Frame
    // before it.
    static bool HeadIsWellFormed(const uint8_t* data, size_t size);

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
    uint64_t m_damaged = 0;
    // Logged once per run of damaged pictures, not once per picture.
    bool m_damageLogged = false;
};

}  // namespace zentavo
