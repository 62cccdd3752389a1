#include "transcode/clip_reader.h"

#include <algorithm>
#include <cstring>

#include "container/kelo_writer.h"

namespace fluxmere::transcode {
namespace {

// A clip starts with a stream header that names a Motion-JPEG picture track of a usable size.
bool IsClipHeader(const CKelo& stream) {
    if (stream.version > 16) {
        return false;
    }
    for (const CKeloTrack& track : stream.tracks) {
        if (track.mediaKind == kKindVideo && track.codecCode == kCodecMjpa) {
            return track.width >= 1 && track.width <= 65535 && track.height >= 1 &&
                   track.height <= 65535;
        }
    }
    return false;
}

}  // namespace

size_t ClipReader::TakeUnit(const uint8_t* data, size_t size) {
    if (!headerRead_) {
        if (!stream_.ParseHeader(data, size)) {
            if (size > kMaxStreamHeader) {
                status_ = ClipStatus::NotAClip;
            }
            return 0;
        }
        if (!IsClipHeader(stream_)) {
            status_ = ClipStatus::NotAClip;
            return 0;
        }
        headerRead_ = true;
        frame_.version = stream_.version;
        if (!consumer_->OnStreamHeader(stream_)) {
            status_ = ClipStatus::ConsumerFailed;
            return 0;
        }
        return stream_.bytesRead();
    }
    if (size < 4) {
        return 0;
    }
    const uint32_t headerLength = LoadBE32(data);
    if (headerLength > kMaxBlockHeader) {
        status_ = bytesDone_ == stream_.bytesRead() ? ClipStatus::NotAClip : ClipStatus::Damaged;
        return 0;
    }
    if (size - 4 < headerLength) {
        return 0;
    }
    uint32_t payload = 0;
    if (!frame_.ParseHeader(data + 4, headerLength, &payload) || payload > kMaxPayload) {
        status_ = bytesDone_ == stream_.bytesRead() ? ClipStatus::NotAClip : ClipStatus::Damaged;
        return 0;
    }
    const size_t total = size_t{4} + headerLength + payload;
    if (size < total) {
        return 0;
    }
    if (!consumer_->OnBlock(frame_, data + 4 + headerLength, payload)) {
        status_ = ClipStatus::ConsumerFailed;
        return 0;
    }
    return total;
}

size_t ClipReader::HeldUnitNeeds(size_t offered) const {
    const size_t held = held_.size();
    if (!headerRead_) {
        return held + offered;  // a stream header tells its length only once it parses
    }
    if (held < 4) {
        return 4;
    }
    const size_t headerEnd = 4 + size_t{LoadBE32(held_.data())};
    if (held < headerEnd) {
        return headerEnd;
    }
    // The header is whole: its payload length decides. TakeUnit has already refused a header
    // that does not parse, so this parse succeeds.
    CKeloMediaFrame frame(stream_.version);
    uint32_t payload = 0;
    frame.ParseHeader(held_.data() + 4, headerEnd - 4, &payload);
    return headerEnd + payload;
}

ClipStatus ClipReader::Feed(const uint8_t* data, size_t size) {
    if (status_ != ClipStatus::Ok) {
        return status_;
    }
    bytesFed_ += size;
    while (status_ == ClipStatus::Ok) {
        if (!held_.empty()) {
            const size_t used = TakeUnit(held_.data(), held_.size());
            if (used > 0) {
                bytesDone_ += used;
                held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(used));
                continue;
            }
            if (status_ != ClipStatus::Ok || size == 0) {
                break;
            }
            const size_t needs = HeldUnitNeeds(size);
            const size_t take = std::min(size, needs > held_.size() ? needs - held_.size() : size);
            held_.insert(held_.end(), data, data + take);
            data += take;
            size -= take;
            continue;
        }
        if (size == 0) {
            break;
        }
        const size_t used = TakeUnit(data, size);
        if (used == 0) {
            if (status_ == ClipStatus::Ok) {
                held_.assign(data, data + size);
            }
            break;
        }
        bytesDone_ += used;
        data += used;
        size -= used;
    }
    return status_;
}

}  // namespace fluxmere::transcode
