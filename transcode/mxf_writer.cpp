#include "transcode/mxf_writer.h"

#include <cstring>

#include "transcode/big_endian_appender.h"

namespace fluxmere::transcode {
namespace {

using Label = uint8_t[16];

// Partition packs, primer, index, fill and random index pack.
constexpr Label kHeaderOpenIncomplete = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                         0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00};
constexpr Label kHeaderClosedComplete = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                         0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
constexpr Label kBodyClosedComplete = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                       0x0D, 0x01, 0x02, 0x01, 0x01, 0x03, 0x04, 0x00};
constexpr Label kFooterClosedComplete = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                         0x0D, 0x01, 0x02, 0x01, 0x01, 0x04, 0x04, 0x00};
constexpr Label kPrimerPack = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                               0x0D, 0x01, 0x02, 0x01, 0x01, 0x05, 0x01, 0x00};
constexpr Label kIndexTableSegment = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01,
                                      0x0D, 0x01, 0x02, 0x01, 0x01, 0x10, 0x01, 0x00};
constexpr Label kRandomIndexPack = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                    0x0D, 0x01, 0x02, 0x01, 0x01, 0x11, 0x01, 0x00};
constexpr Label kFill = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x02,
                         0x03, 0x01, 0x02, 0x10, 0x01, 0x00, 0x00, 0x00};
constexpr Label kOperationalPattern1a = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                                         0x0D, 0x01, 0x02, 0x01, 0x01, 0x01, 0x09, 0x00};

// Data definitions of the tracks.
constexpr Label kPictureData = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                                0x01, 0x03, 0x02, 0x02, 0x01, 0x00, 0x00, 0x00};
constexpr Label kSoundData = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                              0x01, 0x03, 0x02, 0x02, 0x02, 0x00, 0x00, 0x00};
constexpr Label kTimecodeData = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                                 0x01, 0x03, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00};

// Essence containers, picture codings and element keys.
constexpr Label kMultipleWrappings = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x03,
                                      0x0D, 0x01, 0x03, 0x01, 0x02, 0x7F, 0x01, 0x00};
constexpr Label kDvcpro25Container = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                                      0x0D, 0x01, 0x03, 0x01, 0x02, 0x02, 0x41, 0x01};
constexpr Label kDvcpro25Coding = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                                   0x04, 0x01, 0x02, 0x02, 0x02, 0x02, 0x02, 0x00};
constexpr Label kWaveContainer = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                                  0x0D, 0x01, 0x03, 0x01, 0x02, 0x06, 0x01, 0x00};
constexpr Label kDvElement = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                              0x0D, 0x01, 0x03, 0x01, 0x18, 0x01, 0x01, 0x01};
constexpr Label kWaveElement = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                                0x0D, 0x01, 0x03, 0x01, 0x16, 0x01, 0x01, 0x01};
// D-10 625-line containers and codings; byte 14 (container) and 15 (coding) name the rate.
constexpr Label kD10Container = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                                 0x0D, 0x01, 0x03, 0x01, 0x02, 0x01, 0x01, 0x01};
constexpr Label kD10Coding = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                              0x04, 0x01, 0x02, 0x02, 0x01, 0x02, 0x01, 0x01};
constexpr Label kD10PictureElement = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                                      0x0D, 0x01, 0x03, 0x01, 0x05, 0x01, 0x01, 0x01};
constexpr Label kAes3Element = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                                0x0D, 0x01, 0x03, 0x01, 0x06, 0x01, 0x10, 0x00};
constexpr Label kSystemMetadataPack = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                       0x0D, 0x01, 0x03, 0x01, 0x04, 0x01, 0x01, 0x00};
constexpr Label kSystemPackageSet = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x43, 0x01, 0x01,
                                     0x0D, 0x01, 0x03, 0x01, 0x04, 0x01, 0x02, 0x01};

// Header metadata sets: the key with byte 14 naming the set.
enum SetKind : uint8_t {
    kPrefaceSet = 0x2F,
    kIdentificationSet = 0x30,
    kContentStorageSet = 0x18,
    kEssenceContainerDataSet = 0x23,
    kMaterialPackageSet = 0x36,
    kSourcePackageSet = 0x37,
    kTrackSet = 0x3B,
    kSequenceSet = 0x0F,
    kSourceClipSet = 0x11,
    kTimecodeSet = 0x14,
    kMultipleDescriptorSet = 0x44,
    kCdciDescriptorSet = 0x28,
    kWaveDescriptorSet = 0x48,
    kSoundDescriptorSet = 0x42,
};

// The local tags used, with the item each stands for (the primer pack lists them all).
struct LocalTag {
    uint16_t tag;
    Label item;
};
#define MXF_ITEM(a, b, c, d, e, f, g, h) \
    { 0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, a, b, c, d, e, f, g, h, 0x00 }
constexpr LocalTag kLocalTags[] = {
    {0x3C0A, MXF_ITEM(0x01, 0x01, 0x01, 0x15, 0x02, 0x00, 0x00, 0x00)},  // instance id
    {0x3B02, MXF_ITEM(0x02, 0x07, 0x02, 0x01, 0x10, 0x02, 0x04, 0x00)},  // last modified
    {0x3B05, MXF_ITEM(0x02, 0x03, 0x01, 0x02, 0x01, 0x05, 0x00, 0x00)},  // version
    {0x3B06, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x06, 0x04, 0x00)},  // identifications
    {0x3B03, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x02, 0x01, 0x00)},  // content storage
    {0x3B09, MXF_ITEM(0x05, 0x01, 0x02, 0x02, 0x03, 0x00, 0x00, 0x00)},  // operational pattern
    {0x3B0A, MXF_ITEM(0x05, 0x01, 0x02, 0x02, 0x10, 0x02, 0x01, 0x00)},  // essence containers
    {0x3B0B, MXF_ITEM(0x05, 0x01, 0x02, 0x02, 0x10, 0x02, 0x02, 0x00)},  // DM schemes
    {0x3C09, MXF_ITEM(0x02, 0x05, 0x20, 0x07, 0x01, 0x01, 0x00, 0x00)},  // generation
    {0x3C01, MXF_ITEM(0x02, 0x05, 0x20, 0x07, 0x01, 0x02, 0x01, 0x00)},  // company
    {0x3C02, MXF_ITEM(0x02, 0x05, 0x20, 0x07, 0x01, 0x03, 0x01, 0x00)},  // product
    {0x3C04, MXF_ITEM(0x02, 0x05, 0x20, 0x07, 0x01, 0x05, 0x01, 0x00)},  // version string
    {0x3C05, MXF_ITEM(0x02, 0x05, 0x20, 0x07, 0x01, 0x07, 0x00, 0x00)},  // product id
    {0x3C06, MXF_ITEM(0x02, 0x07, 0x02, 0x01, 0x10, 0x02, 0x03, 0x00)},  // modification date
    {0x1901, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x05, 0x01, 0x00)},  // packages
    {0x1902, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x05, 0x02, 0x00)},  // container data
    {0x2701, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x06, 0x01, 0x00, 0x00)},  // linked package
    {0x3F07, MXF_ITEM(0x04, 0x01, 0x03, 0x04, 0x04, 0x00, 0x00, 0x00)},  // body SID
    {0x3F06, MXF_ITEM(0x04, 0x01, 0x03, 0x04, 0x05, 0x00, 0x00, 0x00)},  // index SID
    {0x4401, MXF_ITEM(0x01, 0x01, 0x01, 0x15, 0x10, 0x00, 0x00, 0x00)},  // package UMID
    {0x4405, MXF_ITEM(0x02, 0x07, 0x02, 0x01, 0x10, 0x01, 0x03, 0x00)},  // package created
    {0x4404, MXF_ITEM(0x02, 0x07, 0x02, 0x01, 0x10, 0x02, 0x05, 0x00)},  // package modified
    {0x4403, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x06, 0x05, 0x00)},  // tracks
    {0x4701, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x02, 0x03, 0x00)},  // descriptor
    {0x4801, MXF_ITEM(0x02, 0x01, 0x07, 0x01, 0x01, 0x00, 0x00, 0x00)},  // track id
    {0x4804, MXF_ITEM(0x02, 0x01, 0x04, 0x01, 0x03, 0x00, 0x00, 0x00)},  // track number
    {0x4B01, MXF_ITEM(0x02, 0x05, 0x30, 0x04, 0x05, 0x00, 0x00, 0x00)},  // edit rate
    {0x4B02, MXF_ITEM(0x02, 0x07, 0x02, 0x01, 0x03, 0x01, 0x03, 0x00)},  // origin
    {0x4803, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x02, 0x04, 0x00)},  // sequence
    {0x0201, MXF_ITEM(0x02, 0x04, 0x07, 0x01, 0x00, 0x00, 0x00, 0x00)},  // data definition
    {0x0202, MXF_ITEM(0x02, 0x07, 0x02, 0x02, 0x01, 0x01, 0x03, 0x00)},  // duration
    {0x1001, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x06, 0x09, 0x00)},  // components
    {0x1201, MXF_ITEM(0x02, 0x07, 0x02, 0x01, 0x03, 0x01, 0x04, 0x00)},  // start position
    {0x1101, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x03, 0x01, 0x00, 0x00)},  // source package
    {0x1102, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x03, 0x02, 0x00, 0x00)},  // source track
    {0x1501, MXF_ITEM(0x02, 0x07, 0x02, 0x01, 0x03, 0x01, 0x05, 0x00)},  // start timecode
    {0x1502, MXF_ITEM(0x02, 0x04, 0x04, 0x01, 0x01, 0x02, 0x06, 0x00)},  // timecode base
    {0x1503, MXF_ITEM(0x01, 0x04, 0x04, 0x01, 0x01, 0x05, 0x00, 0x00)},  // drop frame
    {0x3F01, MXF_ITEM(0x04, 0x06, 0x01, 0x01, 0x04, 0x06, 0x0B, 0x00)},  // sub descriptors
    {0x3006, MXF_ITEM(0x05, 0x06, 0x01, 0x01, 0x03, 0x05, 0x00, 0x00)},  // linked track
    {0x3001, MXF_ITEM(0x01, 0x04, 0x06, 0x01, 0x01, 0x00, 0x00, 0x00)},  // sample rate
    {0x3002, MXF_ITEM(0x01, 0x04, 0x06, 0x01, 0x02, 0x00, 0x00, 0x00)},  // container duration
    {0x3004, MXF_ITEM(0x02, 0x06, 0x01, 0x01, 0x04, 0x01, 0x02, 0x00)},  // essence container
    {0x320C, MXF_ITEM(0x01, 0x04, 0x01, 0x03, 0x01, 0x04, 0x00, 0x00)},  // frame layout
    {0x320D, MXF_ITEM(0x02, 0x04, 0x01, 0x03, 0x02, 0x05, 0x00, 0x00)},  // video line map
    {0x3203, MXF_ITEM(0x01, 0x04, 0x01, 0x05, 0x02, 0x02, 0x00, 0x00)},  // stored width
    {0x3202, MXF_ITEM(0x01, 0x04, 0x01, 0x05, 0x02, 0x01, 0x00, 0x00)},  // stored height
    {0x3209, MXF_ITEM(0x01, 0x04, 0x01, 0x05, 0x01, 0x0C, 0x00, 0x00)},  // display width
    {0x3208, MXF_ITEM(0x01, 0x04, 0x01, 0x05, 0x01, 0x0B, 0x00, 0x00)},  // display height
    {0x320E, MXF_ITEM(0x01, 0x04, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00)},  // aspect ratio
    {0x3201, MXF_ITEM(0x02, 0x04, 0x01, 0x06, 0x01, 0x00, 0x00, 0x00)},  // picture coding
    {0x3301, MXF_ITEM(0x02, 0x04, 0x01, 0x05, 0x03, 0x0A, 0x00, 0x00)},  // component depth
    {0x3302, MXF_ITEM(0x01, 0x04, 0x01, 0x05, 0x01, 0x05, 0x00, 0x00)},  // horizontal sub.
    {0x3308, MXF_ITEM(0x02, 0x04, 0x01, 0x05, 0x01, 0x10, 0x00, 0x00)},  // vertical sub.
    {0x3D02, MXF_ITEM(0x04, 0x04, 0x02, 0x03, 0x01, 0x04, 0x00, 0x00)},  // locked
    {0x3D03, MXF_ITEM(0x05, 0x04, 0x02, 0x03, 0x01, 0x01, 0x01, 0x00)},  // sampling rate
    {0x3D07, MXF_ITEM(0x05, 0x04, 0x02, 0x01, 0x01, 0x04, 0x00, 0x00)},  // channel count
    {0x3D01, MXF_ITEM(0x04, 0x04, 0x02, 0x03, 0x03, 0x04, 0x00, 0x00)},  // quantisation bits
    {0x3D0A, MXF_ITEM(0x05, 0x04, 0x02, 0x03, 0x02, 0x01, 0x00, 0x00)},  // block align
    {0x3D09, MXF_ITEM(0x05, 0x04, 0x02, 0x03, 0x03, 0x05, 0x00, 0x00)},  // bytes per second
    {0x3F0B, MXF_ITEM(0x05, 0x05, 0x30, 0x04, 0x06, 0x00, 0x00, 0x00)},  // index edit rate
    {0x3F0C, MXF_ITEM(0x05, 0x07, 0x02, 0x01, 0x03, 0x01, 0x0A, 0x00)},  // index start
    {0x3F0D, MXF_ITEM(0x05, 0x07, 0x02, 0x02, 0x01, 0x01, 0x02, 0x00)},  // index duration
    {0x3F05, MXF_ITEM(0x04, 0x04, 0x06, 0x02, 0x01, 0x00, 0x00, 0x00)},  // edit unit bytes
};
#undef MXF_ITEM

// Instance ids of the sets: set kind in the high byte, a number for sets of one kind.
enum Instance : uint16_t {
    kPreface = 0x0100,
    kIdentification = 0x0200,
    kContentStorage = 0x0300,
    kContainerData = 0x0400,
    kMaterialPackage = 0x0500,
    kSourcePackage = 0x0600,
    kMultipleDescriptor = 0x0700,
    kPictureDescriptor = 0x0701,
    kSoundDescriptor = 0x0702,
    kIndexSegment = 0x0800,
    kGeneration = 0x0900,
    kProduct = 0x0A00,
    // Per package (material 0x10.., source 0x20..) and track (0 timecode, 1 picture, 2 sound):
    kTrackBase = 0x0000,
    kSequenceBase = 0x0004,
    kComponentBase = 0x0008,
};

constexpr uint32_t kBodySid = 1;
constexpr uint32_t kIndexSid = 2;
constexpr int kTrackCount = 3;  // timecode, picture, sound

// Builds KLV bytes in a vector: big-endian numbers, labels, and sets whose length is filled in
// when they are closed (always in four BER bytes, so that sizes never depend on values).
class KlvBuilder : public BigEndianAppender {
public:
    using BigEndianAppender::BigEndianAppender;

    void Ber4(uint32_t length) {
        U8(0x83);
        U8(static_cast<uint8_t>(length >> 16));
        U16(static_cast<uint16_t>(length));
    }
    // A key and a length to be filled in by Close.
    void Open(const uint8_t* key) {
        Bytes(key, 16);
        PushStart(out_->size());
        Ber4(0);
    }
    void OpenSet(SetKind kind) {
        uint8_t key[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01,
                           0x0D, 0x01, 0x01, 0x01, 0x01, 0x01, kind, 0x00};
        Open(key);
    }
    void Close() {
        const size_t at = PopStart();
        const uint32_t length = static_cast<uint32_t>(out_->size() - at - 4);
        (*out_)[at + 1] = static_cast<uint8_t>(length >> 16);
        (*out_)[at + 2] = static_cast<uint8_t>(length >> 8);
        (*out_)[at + 3] = static_cast<uint8_t>(length);
    }
    // A local item: tag and length, the value to follow.
    void Tag(uint16_t tag, uint16_t length) {
        U16(tag);
        U16(length);
    }
    void TagU8(uint16_t tag, uint8_t v) {
        Tag(tag, 1);
        U8(v);
    }
    void TagU16(uint16_t tag, uint16_t v) {
        Tag(tag, 2);
        U16(v);
    }
    void TagU32(uint16_t tag, uint32_t v) {
        Tag(tag, 4);
        U32(v);
    }
    void TagU64(uint16_t tag, uint64_t v) {
        Tag(tag, 8);
        U64(v);
    }
    void TagRational(uint16_t tag, uint32_t num, uint32_t den) {
        Tag(tag, 8);
        U32(num);
        U32(den);
    }
    void TagLabel(uint16_t tag, const uint8_t* label) {
        Tag(tag, 16);
        Bytes(label, 16);
    }
    void TagText(uint16_t tag, const char* ascii) {  // UTF-16 big-endian, no terminator
        const size_t n = std::strlen(ascii);
        Tag(tag, static_cast<uint16_t>(2 * n));
        for (size_t i = 0; i < n; ++i) {
            U16(static_cast<uint8_t>(ascii[i]));
        }
    }
    // A batch of 16-byte items: count, item size, items.
    void BatchHeader(uint16_t tag, uint32_t count) {
        Tag(tag, static_cast<uint16_t>(8 + 16 * count));
        U32(count);
        U32(16);
    }
    // KLV fill up to the next multiple of kag (at least the fill's own key and length).
    void FillTo(uint64_t absoluteStart, uint32_t kag) {
        const uint64_t at = absoluteStart + out_->size();
        uint64_t pad = (kag - at % kag) % kag;
        if (pad != 0 && pad < 20) {
            pad += kag;
        }
        if (pad != 0) {
            Bytes(kFill, 16);
            Ber4(static_cast<uint32_t>(pad - 20));
            Zeros(pad - 20);
        }
    }
};

uint64_t FillAfter(uint64_t bytes, uint32_t kag) {
    uint64_t pad = (kag - bytes % kag) % kag;
    return pad != 0 && pad < 20 ? pad + kag : pad;
}

// SMPTE 12M time code of edit unit n at 25 per second (no drop frame), as BCD bytes.
uint32_t Timecode(uint32_t n) {
    const uint32_t frames = n % 25, seconds = n / 25 % 60, minutes = n / 1500 % 60,
                   hours = n / 90000 % 24;
    auto bcd = [](uint32_t v) { return (v / 10) << 4 | v % 10; };
    return bcd(frames) << 24 | bcd(seconds) << 16 | bcd(minutes) << 8 | bcd(hours);
}

}  // namespace

uint64_t MxfTimestamp(int year, int month, int day, int hour, int minute, int second) {
    return uint64_t(year) << 48 | uint64_t(month) << 40 | uint64_t(day) << 32 |
           uint64_t(hour) << 24 | uint64_t(minute) << 16 | uint64_t(second) << 8;
}

uint32_t MxfWriter::PictureBytes(MxfEssence essence) {
    switch (essence) {
        case MxfEssence::Dvcpro25:
            return 144000;
        case MxfEssence::D10At30:
            return 150000;
        case MxfEssence::D10At40:
            return 200000;
        case MxfEssence::D10At50:
            return 250000;
    }
    return 0;
}

MxfWriter::MxfWriter() = default;
MxfWriter::~MxfWriter() = default;

namespace {

// The parts of the header metadata that depend on the essence.
struct EssenceLabels {
    Label container;   // of the picture (D-10: of both)
    Label coding;      // picture essence coding
    Label pictureKey;  // element keys; bytes 12..15 are the track numbers
    Label soundKey;
    uint32_t bitRate;
};

EssenceLabels LabelsFor(MxfEssence essence) {
    EssenceLabels l;
    if (essence == MxfEssence::Dvcpro25) {
        std::memcpy(l.container, kDvcpro25Container, 16);
        std::memcpy(l.coding, kDvcpro25Coding, 16);
        std::memcpy(l.pictureKey, kDvElement, 16);
        std::memcpy(l.soundKey, kWaveElement, 16);
        l.bitRate = 25000000;
        return l;
    }
    const uint8_t rate = essence == MxfEssence::D10At50   ? 1
                         : essence == MxfEssence::D10At40 ? 3
                                                          : 5;
    std::memcpy(l.container, kD10Container, 16);
    l.container[14] = rate;
    std::memcpy(l.coding, kD10Coding, 16);
    l.coding[15] = rate;
    std::memcpy(l.pictureKey, kD10PictureElement, 16);
    std::memcpy(l.soundKey, kAes3Element, 16);
    l.bitRate = MxfWriter::PictureBytes(essence) * 8 * MxfWriter::kEditRate;
    return l;
}

}  // namespace

bool MxfWriter::Put(const void* data, size_t size) {
    if (failed_ || !sink_->Append(data, size)) {
        failed_ = true;
        return false;
    }
    position_ += size;
    return true;
}

bool MxfWriter::Begin(IMovieSink* sink, const MxfFormat& format) {
    sink_ = sink;
    format_ = format;
    d10_ = format.essence != MxfEssence::Dvcpro25;
    position_ = 0;
    units_ = 0;
    footerPartition_ = 0;
    failed_ = sink == nullptr;
    if (failed_) {
        return false;
    }
    // One content package: [system item], picture, sound, each element filled to the KAG.
    const uint64_t picture = PictureBytes(format.essence);
    const uint64_t sound =
        d10_ ? 4 + kSoundFramesPerUnit * 8 * 4 : kSoundFramesPerUnit * kSoundChannels * 2;
    editUnitBytes_ = 0;
    if (d10_) {
        editUnitBytes_ += 77 + 55;
        editUnitBytes_ += FillAfter(editUnitBytes_, kKag);
    }
    editUnitBytes_ += 20 + picture;
    editUnitBytes_ += FillAfter(editUnitBytes_, kKag);
    editUnitBytes_ += 20 + sound;
    editUnitBytes_ += FillAfter(editUnitBytes_, kKag);
    scratch_.clear();
    scratch_.reserve(20 + sound + 4 * kKag);  // an element, and fill (under 2 KAGs) on each side

    std::vector<uint8_t> head;
    BuildHeaderPartition(&head, false);
    bodyPartition_ = head.size();
    if (!Put(head.data(), head.size())) {
        return false;
    }
    std::vector<uint8_t> body;
    BuildBodyPartition(&body);
    return Put(body.data(), body.size());
}

void MxfWriter::BuildHeaderPartition(std::vector<uint8_t>* out, bool closed) const {
    const EssenceLabels labels = LabelsFor(format_.essence);
    const uint64_t duration = units_;
    // The file's identity: instance ids share 12 bytes, UMIDs their material number.
    uint8_t base[12];
    for (int i = 0; i < 8; ++i) {
        base[i] = static_cast<uint8_t>(format_.identity >> (56 - 8 * i));
    }
    base[8] = 0x4B;  // version 4 (random) uuid marks
    base[9] = 0xE1;
    base[10] = 0x9A;
    base[11] = 0x5C;
    KlvBuilder w(out);
    auto uid = [&](uint16_t instance) {
        w.Bytes(base, 12);
        w.U32(instance);
    };
    auto umid = [&](uint8_t kind) {  // kind 0: material package, 1: file package
        static const uint8_t prefix[13] = {0x06, 0x0A, 0x2B, 0x34, 0x01, 0x01, 0x01,
                                           0x05, 0x01, 0x01, 0x0D, 0x20, 0x13};
        w.Bytes(prefix, 13);
        w.U8(0);
        w.U16(0);  // instance number
        w.Bytes(base, 12);
        w.U16(static_cast<uint16_t>(format_.identity));
        w.U8(0x5A);
        w.U8(kind);
    };
    // Essence containers: D-10 one label for both elements; DV the DV and the wave labels, with
    // the label that says there are several.
    const int containers = d10_ ? 1 : 3;
    auto containerBatch = [&](uint16_t tag) {
        if (tag != 0) {
            w.BatchHeader(tag, containers);
        } else {
            w.U32(containers);
            w.U32(16);
        }
        w.Bytes(labels.container, 16);
        if (!d10_) {
            w.Bytes(kWaveContainer, 16);
            w.Bytes(kMultipleWrappings, 16);
        }
    };

    // Partition pack.
    w.Open(closed ? kHeaderClosedComplete : kHeaderOpenIncomplete);
    w.U16(1);  // major version
    w.U16(3);  // minor version
    w.U32(kKag);
    w.U64(0);                 // this partition
    w.U64(0);                 // previous partition
    w.U64(footerPartition_);  // footer partition
    const size_t headerByteCountAt = out->size();
    w.U64(0);  // header byte count, below
    w.U64(0);  // index byte count
    w.U32(0);  // index SID
    w.U64(0);  // body offset
    w.U32(0);  // body SID
    w.Bytes(kOperationalPattern1a, 16);
    containerBatch(0);
    w.Close();
    w.FillTo(0, kKag);
    const size_t metadataStart = out->size();

    // Primer pack.
    w.Bytes(kPrimerPack, 16);
    const uint32_t tagCount = sizeof kLocalTags / sizeof kLocalTags[0];
    w.Ber4(8 + 18 * tagCount);
    w.U32(tagCount);
    w.U32(18);
    for (const LocalTag& t : kLocalTags) {
        w.U16(t.tag);
        w.Bytes(t.item, 16);
    }

    w.OpenSet(kPrefaceSet);
    w.Tag(0x3C0A, 16);
    uid(kPreface);
    w.TagU64(0x3B02, format_.timestamp);
    w.TagU16(0x3B05, 0x0103);
    w.BatchHeader(0x3B06, 1);
    uid(kIdentification);
    w.Tag(0x3B03, 16);
    uid(kContentStorage);
    w.TagLabel(0x3B09, kOperationalPattern1a);
    containerBatch(0x3B0A);
    w.BatchHeader(0x3B0B, 0);
    w.Close();

    w.OpenSet(kIdentificationSet);
    w.Tag(0x3C0A, 16);
    uid(kIdentification);
    w.Tag(0x3C09, 16);
    uid(kGeneration);
    w.TagText(0x3C01, "Vandelor");
    w.TagText(0x3C02, "Fluxmere transcoding engine");
    w.TagText(0x3C04, "1.0");
    w.Tag(0x3C05, 16);
    uid(kProduct);
    w.TagU64(0x3C06, format_.timestamp);
    w.Close();

    w.OpenSet(kContentStorageSet);
    w.Tag(0x3C0A, 16);
    uid(kContentStorage);
    w.BatchHeader(0x1901, 2);
    uid(kMaterialPackage);
    uid(kSourcePackage);
    w.BatchHeader(0x1902, 1);
    uid(kContainerData);
    w.Close();

    w.OpenSet(kEssenceContainerDataSet);
    w.Tag(0x3C0A, 16);
    uid(kContainerData);
    w.Tag(0x2701, 32);
    umid(1);
    w.TagU32(0x3F06, kIndexSid);
    w.TagU32(0x3F07, kBodySid);
    w.Close();

    // Both packages: a timecode, a picture and a sound track; the material package's clips refer
    // to the file package's tracks, whose clips end the chain.
    for (int package = 0; package < 2; ++package) {
        const bool source = package == 1;
        const uint16_t packageBase = source ? 0x2000 : 0x1000;
        w.OpenSet(source ? kSourcePackageSet : kMaterialPackageSet);
        w.Tag(0x3C0A, 16);
        uid(source ? kSourcePackage : kMaterialPackage);
        w.Tag(0x4401, 32);
        umid(source ? 1 : 0);
        w.TagU64(0x4405, format_.timestamp);
        w.TagU64(0x4404, format_.timestamp);
        w.BatchHeader(0x4403, kTrackCount);
        for (int t = 0; t < kTrackCount; ++t) {
            uid(packageBase + kTrackBase + t);
        }
        if (source) {
            w.Tag(0x4701, 16);
            uid(kMultipleDescriptor);
        }
        w.Close();
        for (int t = 0; t < kTrackCount; ++t) {
            const uint8_t* data = t == 0 ? kTimecodeData : t == 1 ? kPictureData : kSoundData;
            const uint8_t* key = t == 1 ? labels.pictureKey : labels.soundKey;
            w.OpenSet(kTrackSet);
            w.Tag(0x3C0A, 16);
            uid(packageBase + kTrackBase + t);
            w.TagU32(0x4801, static_cast<uint32_t>(t + 1));
            w.Tag(0x4804, 4);
            if (source && t != 0) {
                w.Bytes(key + 12, 4);
            } else {
                w.U32(0);
            }
            w.TagRational(0x4B01, kEditRate, 1);
            w.TagU64(0x4B02, 0);
            w.Tag(0x4803, 16);
            uid(packageBase + kSequenceBase + t);
            w.Close();

            w.OpenSet(kSequenceSet);
            w.Tag(0x3C0A, 16);
            uid(packageBase + kSequenceBase + t);
            w.TagLabel(0x0201, data);
            w.TagU64(0x0202, duration);
            w.BatchHeader(0x1001, 1);
            uid(packageBase + kComponentBase + t);
            w.Close();

            w.OpenSet(t == 0 ? kTimecodeSet : kSourceClipSet);
            w.Tag(0x3C0A, 16);
            uid(packageBase + kComponentBase + t);
            w.TagLabel(0x0201, data);
            w.TagU64(0x0202, duration);
            if (t == 0) {
                w.TagU64(0x1501, 0);
                w.TagU16(0x1502, static_cast<uint16_t>(kEditRate));
                w.TagU8(0x1503, 0);
            } else {
                w.TagU64(0x1201, 0);
                w.Tag(0x1101, 32);
                if (source) {
                    for (int i = 0; i < 32; ++i) {
                        w.U8(0);
                    }
                } else {
                    umid(1);
                }
                w.TagU32(0x1102, source ? 0 : static_cast<uint32_t>(t + 1));
            }
            w.Close();
        }
    }

    // Descriptors of the file package.
    w.OpenSet(kMultipleDescriptorSet);
    w.Tag(0x3C0A, 16);
    uid(kMultipleDescriptor);
    w.TagRational(0x3001, kEditRate, 1);
    w.TagU64(0x3002, duration);
    w.TagLabel(0x3004, d10_ ? labels.container : kMultipleWrappings);
    w.BatchHeader(0x3F01, 2);
    uid(kPictureDescriptor);
    uid(kSoundDescriptor);
    w.Close();

    // Pictures: 4:3, interlaced, two fields of 288 lines (D-10: 304 stored, 16 above).
    w.OpenSet(kCdciDescriptorSet);
    w.Tag(0x3C0A, 16);
    uid(kPictureDescriptor);
    w.TagU32(0x3006, 2);
    w.TagRational(0x3001, kEditRate, 1);
    w.TagU64(0x3002, duration);
    w.TagLabel(0x3004, labels.container);
    w.TagU8(0x320C, 1);  // separate fields
    w.TagU32(0x3203, 720);
    w.TagU32(0x3202, d10_ ? 304 : 288);
    w.TagU32(0x3209, 720);
    w.TagU32(0x3208, 288);
    w.TagRational(0x320E, 4, 3);
    w.Tag(0x320D, 16);
    w.U32(2);
    w.U32(4);
    w.U32(d10_ ? 7 : 23);
    w.U32(d10_ ? 320 : 335);
    w.TagLabel(0x3201, labels.coding);
    w.TagU32(0x3301, 8);
    w.TagU32(0x3302, d10_ ? 2 : 4);  // 4:2:2, or DVCPRO's 4:1:1
    w.TagU32(0x3308, 1);
    w.Close();

    w.OpenSet(d10_ ? kSoundDescriptorSet : kWaveDescriptorSet);
    w.Tag(0x3C0A, 16);
    uid(kSoundDescriptor);
    w.TagU32(0x3006, 3);
    w.TagRational(0x3001, kEditRate, 1);
    w.TagU64(0x3002, duration);
    w.TagLabel(0x3004, d10_ ? labels.container : kWaveContainer);
    w.TagU8(0x3D02, 1);
    w.TagRational(0x3D03, 48000, 1);
    w.TagU32(0x3D07, kSoundChannels);
    w.TagU32(0x3D01, 16);
    if (!d10_) {
        w.TagU16(0x3D0A, static_cast<uint16_t>(kSoundChannels * 2));
        w.TagU32(0x3D09, 48000 * kSoundChannels * 2);
    }
    w.Close();

    w.FillTo(0, kKag);
    const uint64_t headerBytes = out->size() - metadataStart;
    for (int i = 0; i < 8; ++i) {
        (*out)[headerByteCountAt + i] = static_cast<uint8_t>(headerBytes >> (56 - 8 * i));
    }
    (void)labels.bitRate;
}

void MxfWriter::BuildBodyPartition(std::vector<uint8_t>* out) const {
    const EssenceLabels labels = LabelsFor(format_.essence);
    KlvBuilder w(out);
    // The index segment and its fill, measured first: the partition pack gives their size.
    std::vector<uint8_t> index;
    KlvBuilder x(&index);
    x.Open(kIndexTableSegment);
    x.Tag(0x3C0A, 16);
    for (int i = 0; i < 8; ++i) {
        x.U8(static_cast<uint8_t>(format_.identity >> (56 - 8 * i)));
    }
    x.U32(0x4BE19A5C);
    x.U32(kIndexSegment);
    x.TagRational(0x3F0B, kEditRate, 1);
    x.TagU64(0x3F0C, 0);
    x.TagU64(0x3F0D, units_);
    x.TagU32(0x3F05, static_cast<uint32_t>(editUnitBytes_));
    x.TagU32(0x3F06, kIndexSid);
    x.TagU32(0x3F07, kBodySid);
    x.Close();
    x.FillTo(0, kKag);  // the segment starts on a KAG boundary

    w.Open(kBodyClosedComplete);
    w.U16(1);
    w.U16(3);
    w.U32(kKag);
    w.U64(bodyPartition_);
    w.U64(0);  // previous: the header partition
    w.U64(footerPartition_);
    w.U64(0);  // no header metadata here
    w.U64(index.size());
    w.U32(kIndexSid);
    w.U64(0);  // the essence starts here
    w.U32(kBodySid);
    w.Bytes(kOperationalPattern1a, 16);
    w.U32(d10_ ? 1 : 3);
    w.U32(16);
    w.Bytes(labels.container, 16);
    if (!d10_) {
        w.Bytes(kWaveContainer, 16);
        w.Bytes(kMultipleWrappings, 16);
    }
    w.Close();
    w.FillTo(bodyPartition_, kKag);
    out->insert(out->end(), index.begin(), index.end());
}

void MxfWriter::BuildSystemItem(std::vector<uint8_t>* out) const {
    const EssenceLabels labels = LabelsFor(format_.essence);
    KlvBuilder w(out);
    w.Bytes(kSystemMetadataPack, 16);
    w.Ber4(57);
    w.U8(0x5C);    // label, user time stamp, picture and sound items present
    w.U8(3 << 1);  // content package rate: 25
    w.U8(0);       // type
    w.U16(0);      // channel handle
    w.U16(static_cast<uint16_t>(units_));  // continuity count
    w.Bytes(labels.container, 16);
    w.U8(0);  // no creation time stamp
    w.U64(0);
    w.U64(0);
    w.U8(0x81);  // user time stamp: time code
    w.U32(Timecode(units_));
    w.U32(0);
    w.U64(0);
    w.Bytes(kSystemPackageSet, 16);
    w.Ber4(35);
    w.U8(0x83);  // package UMID
    w.U16(32);
    // The file package's UMID, as in the header.
    static const uint8_t prefix[13] = {0x06, 0x0A, 0x2B, 0x34, 0x01, 0x01, 0x01,
                                       0x05, 0x01, 0x01, 0x0D, 0x20, 0x13};
    w.Bytes(prefix, 13);
    w.U8(0);
    w.U16(0);
    for (int i = 0; i < 8; ++i) {
        w.U8(static_cast<uint8_t>(format_.identity >> (56 - 8 * i)));
    }
    w.U32(0x4BE19A5C);
    w.U16(static_cast<uint16_t>(format_.identity));
    w.U8(0x5A);
    w.U8(1);
}

void MxfWriter::BuildSoundElement(const int16_t* stereo) {
    const EssenceLabels labels = LabelsFor(format_.essence);
    KlvBuilder w(&scratch_);
    w.Bytes(labels.soundKey, 16);
    if (d10_) {
        // Eight AES3 channels in 32-bit words: the sample in bits 4..27 (16 bits at the top of
        // them), the channel number in bits 0..2.
        w.Ber4(4 + kSoundFramesPerUnit * 8 * 4);
        w.U8(0);  // five-frame sequence: none at 25 per second
        w.U8(static_cast<uint8_t>(kSoundFramesPerUnit));
        w.U8(static_cast<uint8_t>(kSoundFramesPerUnit >> 8));
        w.U8(0xFF);  // all eight channels valid
        for (uint32_t i = 0; i < kSoundFramesPerUnit; ++i) {
            for (uint32_t c = 0; c < 8; ++c) {
                const uint32_t sample = c < 2 ? static_cast<uint16_t>(stereo[2 * i + c]) : 0;
                const uint32_t word = sample << 12 | c;
                w.U8(static_cast<uint8_t>(word));
                w.U8(static_cast<uint8_t>(word >> 8));
                w.U8(static_cast<uint8_t>(word >> 16));
                w.U8(static_cast<uint8_t>(word >> 24));
            }
        }
    } else {
        // Wave: 16-bit little-endian samples, eight channels.
        w.Ber4(kSoundFramesPerUnit * kSoundChannels * 2);
        for (uint32_t i = 0; i < kSoundFramesPerUnit; ++i) {
            for (uint32_t c = 0; c < kSoundChannels; ++c) {
                const uint16_t sample = c < 2 ? static_cast<uint16_t>(stereo[2 * i + c]) : 0;
                w.U8(static_cast<uint8_t>(sample));
                w.U8(static_cast<uint8_t>(sample >> 8));
            }
        }
    }
}

bool MxfWriter::AddEditUnit(const uint8_t* picture, const int16_t* stereo) {
    if (failed_) {
        return false;
    }
    const EssenceLabels labels = LabelsFor(format_.essence);
    const uint64_t start = position_;
    scratch_.clear();
    if (d10_) {
        BuildSystemItem(&scratch_);
        KlvBuilder(&scratch_).FillTo(start, kKag);
    }
    KlvBuilder w(&scratch_);
    w.Bytes(labels.pictureKey, 16);
    w.Ber4(PictureBytes(format_.essence));
    if (!Put(scratch_.data(), scratch_.size()) || !Put(picture, PictureBytes(format_.essence))) {
        return false;
    }
    scratch_.clear();
    KlvBuilder(&scratch_).FillTo(position_, kKag);
    BuildSoundElement(stereo);
    KlvBuilder(&scratch_).FillTo(position_, kKag);
    if (!Put(scratch_.data(), scratch_.size())) {
        return false;
    }
    if (position_ - start != editUnitBytes_) {  // every package must be the same size
        failed_ = true;
        return false;
    }
    ++units_;
    return true;
}

bool MxfWriter::Finish() {
    if (failed_) {
        return false;
    }
    footerPartition_ = position_;
    const EssenceLabels labels = LabelsFor(format_.essence);
    std::vector<uint8_t> tail;
    KlvBuilder w(&tail);
    w.Open(kFooterClosedComplete);
    w.U16(1);
    w.U16(3);
    w.U32(kKag);
    w.U64(footerPartition_);
    w.U64(bodyPartition_);
    w.U64(footerPartition_);
    w.U64(0);
    w.U64(0);
    w.U32(0);
    w.U64(0);
    w.U32(0);
    w.Bytes(kOperationalPattern1a, 16);
    w.U32(d10_ ? 1 : 3);
    w.U32(16);
    w.Bytes(labels.container, 16);
    if (!d10_) {
        w.Bytes(kWaveContainer, 16);
        w.Bytes(kMultipleWrappings, 16);
    }
    w.Close();
    // Random index pack: each partition's body SID and offset, then the pack's own length.
    const size_t ripStart = tail.size();
    w.Bytes(kRandomIndexPack, 16);
    w.Ber4(3 * 12 + 4);
    w.U32(0);
    w.U64(0);
    w.U32(kBodySid);
    w.U64(bodyPartition_);
    w.U32(0);
    w.U64(footerPartition_);
    w.U32(static_cast<uint32_t>(tail.size() - ripStart + 4));
    if (!Put(tail.data(), tail.size())) {
        return false;
    }
    // Header and index again, now closed and with the durations.
    std::vector<uint8_t> head;
    BuildHeaderPartition(&head, true);
    std::vector<uint8_t> body;
    BuildBodyPartition(&body);
    if (!sink_->Overwrite(0, head.data(), head.size()) ||
        !sink_->Overwrite(bodyPartition_, body.data(), body.size())) {
        failed_ = true;
        return false;
    }
    failed_ = true;  // a finished file takes nothing more
    return true;
}

}  // namespace fluxmere::transcode
