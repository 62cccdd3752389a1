// libjpeg-based encoder of "mjpa" payloads.

#include "device/mjpa_encoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include <jpeglib.h>

#include "decode/jpeg_tables.h"
#include "transcode/jpeg_frame_header.h"

namespace fluxmere {
namespace {

struct ErrorTrap {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void TrapError(j_common_ptr info) {
    ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(info->err);
    longjmp(trap->jump, 1);
}

void SilenceMessage(j_common_ptr) {}

void InstallFixedQuantisers(jpeg_compress_struct* info) {
    const uint8_t* tables[2] = {jpeg::kLumaQuantZigzag, jpeg::kChromaQuantZigzag};
    for (int t = 0; t < 2; ++t) {
        JQUANT_TBL*& slot = info->quant_tbl_ptrs[t];
        if (slot == nullptr) {
            slot = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(info));
        }
        for (int k = 0; k < 64; ++k) {
            slot->quantval[jpeg::kZigzagToNatural[k]] = tables[t][k];
        }
        slot->sent_table = FALSE;
    }
}

// Settings shared by both inputs: baseline, 4:2:2, standard Huffman tables, no restarts.
void ConfigureCompressor(jpeg_compress_struct* info) {
    jpeg_set_defaults(info);  // installs the standard Huffman tables
    jpeg_set_colorspace(info, JCS_YCbCr);
    info->comp_info[0].h_samp_factor = 2;
    info->comp_info[0].v_samp_factor = 1;
    for (int c = 1; c < 3; ++c) {
        info->comp_info[c].h_samp_factor = 1;
        info->comp_info[c].v_samp_factor = 1;
    }
    info->comp_info[0].quant_tbl_no = 0;
    info->comp_info[1].quant_tbl_no = 1;
    info->comp_info[2].quant_tbl_no = 1;
    InstallFixedQuantisers(info);
    info->dct_method = JDCT_ISLOW;
    info->optimize_coding = FALSE;
    info->restart_interval = 0;
    info->restart_in_rows = 0;
    info->write_JFIF_header = FALSE;
}

// One plane padded to whole blocks by repeating the last column and row, as raw input needs.
struct PaddedPlane {
    std::vector<uint8_t> samples;
    int width = 0;
    int height = 0;

    void Fill(const uint8_t* source, int sourceWidth, int sourceHeight, int stride) {
        for (int r = 0; r < height; ++r) {
            const uint8_t* row =
                source + static_cast<size_t>(r < sourceHeight ? r : sourceHeight - 1) * stride;
            uint8_t* out = samples.data() + static_cast<size_t>(r) * width;
            for (int c = 0; c < width; ++c) {
                out[c] = row[c < sourceWidth ? c : sourceWidth - 1];
            }
        }
    }
};

bool ValidSize(int width, int height) {
    return width >= 1 && height >= 1 && width <= 65535 && height <= 65535;
}

struct MemoryOutput {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;

    ~MemoryOutput() { std::free(buffer); }
};

// Runs the compressor; the caller's setup callback supplies the picture. Returns false on any
// libjpeg error. Kept free of objects with destructors between setjmp and the libjpeg calls.
template <typename Feed>
bool Compress(int width, int height, J_COLOR_SPACE inputSpace, bool raw, Feed feed,
              std::vector<uint8_t>* jpeg) {
    jpeg->clear();
    jpeg_compress_struct info;
    ErrorTrap trap;
    MemoryOutput output;
    info.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = TrapError;
    trap.manager.output_message = SilenceMessage;
    if (setjmp(trap.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &output.buffer, &output.size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = inputSpace;
    ConfigureCompressor(&info);
    info.raw_data_in = raw ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    feed(&info);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    jpeg->assign(output.buffer, output.buffer + output.size);
    return true;
}

}  // namespace

bool EncodeMjpaJpeg(const YCbCr422Picture& picture, std::vector<uint8_t>* jpeg) {
    if (jpeg == nullptr) {
        return false;
    }
    jpeg->clear();
    if (picture.y == nullptr || picture.cb == nullptr || picture.cr == nullptr ||
        !ValidSize(picture.width, picture.height)) {
        return false;
    }
    const int mcuColumns = (picture.width + 15) / 16;
    const int mcuRows = (picture.height + 7) / 8;
    PaddedPlane planes[3];
    planes[0].width = mcuColumns * 16;
    planes[1].width = planes[2].width = mcuColumns * 8;
    const uint8_t* sources[3] = {picture.y, picture.cb, picture.cr};
    for (int p = 0; p < 3; ++p) {
        planes[p].height = mcuRows * 8;
        planes[p].samples.resize(static_cast<size_t>(planes[p].width) * planes[p].height);
        const int sourceWidth = p == 0 ? picture.width : (picture.width + 1) / 2;
        const int stride = p == 0 ? picture.lumaStride : picture.chromaStride;
        planes[p].Fill(sources[p], sourceWidth, picture.height, stride);
    }
    auto feed = [&planes, mcuRows](jpeg_compress_struct* info) {
        JSAMPROW rows[3][8];
        JSAMPARRAY groups[3] = {rows[0], rows[1], rows[2]};
        for (int band = 0; band < mcuRows; ++band) {
            for (int p = 0; p < 3; ++p) {
                for (int r = 0; r < 8; ++r) {
                    rows[p][r] = planes[p].samples.data() +
                                 static_cast<size_t>(band * 8 + r) * planes[p].width;
                }
            }
            jpeg_write_raw_data(info, groups, 8);
        }
    };
    return Compress(picture.width, picture.height, JCS_YCbCr, true, feed, jpeg);
}

bool EncodeMjpaJpeg(const RgbPicture& picture, std::vector<uint8_t>* jpeg) {
    if (jpeg == nullptr) {
        return false;
    }
    jpeg->clear();
    if (picture.pixels == nullptr || !ValidSize(picture.width, picture.height)) {
        return false;
    }
    auto feed = [&picture](jpeg_compress_struct* info) {
        while (info->next_scanline < info->image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(picture.pixels) +
                           static_cast<size_t>(info->next_scanline) * picture.stride;
            jpeg_write_scanlines(info, &row, 1);
        }
    };
    return Compress(picture.width, picture.height, JCS_RGB, false, feed, jpeg);
}

bool ExtractEntropyCodedData(const uint8_t* jpeg, size_t size, std::vector<uint8_t>* payload) {
    if (payload == nullptr) {
        return false;
    }
    payload->clear();
    if (jpeg == nullptr || size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8 ||
        jpeg[size - 2] != 0xFF || jpeg[size - 1] != 0xD9) {
        return false;
    }
    // Walk the marker segments up to SOS; each carries a 16-bit length after its marker.
    size_t at = 2;
    while (at + 4 <= size) {
        if (jpeg[at] != 0xFF) {
            return false;
        }
        const uint8_t code = jpeg[at + 1];
        if (code == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        const size_t length = static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (length < 2 || at + 2 + length > size - 2) {
            return false;
        }
        at += 2 + length;
        if (code == 0xDA) {
            payload->assign(jpeg + at, jpeg + size - 2);
            return true;
        }
    }
    return false;
}

bool EncodeMjpaPayload(const YCbCr422Picture& picture, std::vector<uint8_t>* payload) {
    std::vector<uint8_t> jpeg;
    return EncodeMjpaJpeg(picture, &jpeg) &&
           ExtractEntropyCodedData(jpeg.data(), jpeg.size(), payload);
}

bool EncodeMjpaPayload(const RgbPicture& picture, std::vector<uint8_t>* payload) {
    std::vector<uint8_t> jpeg;
    return EncodeMjpaJpeg(picture, &jpeg) &&
           ExtractEntropyCodedData(jpeg.data(), jpeg.size(), payload);
}

bool WrapMjpaPayload(const uint8_t* payload, size_t size, int width, int height,
                     std::vector<uint8_t>* jpeg) {
    if (jpeg == nullptr) {
        return false;
    }
    jpeg->clear();
    transcode::JpegFrameHeader header;
    if ((payload == nullptr && size != 0) || !ValidSize(width, height) ||
        !header.Build(width, height, false)) {
        return false;
    }
    jpeg->assign(header.data(), header.data() + header.size());
    if (size != 0) {
        jpeg->insert(jpeg->end(), payload, payload + size);
    }
    jpeg->insert(jpeg->end(), std::begin(transcode::JpegFrameHeader::kEndOfImage),
                 std::end(transcode::JpegFrameHeader::kEndOfImage));
    return true;
}

}  // namespace fluxmere
